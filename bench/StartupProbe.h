#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace vestrel::bench {

// With VESTREL_BENCH_STARTUP set, a program prints "shown" once `window` has been shown and the event
// loop has gone idle, then its resident memory ("rss <kB>"), and ends. The start-up benchmark starts
// the programs and reads these lines.
inline void probeStartup(QWidget& window) {
    if (qEnvironmentVariableIsEmpty("VESTREL_BENCH_STARTUP"))
        return;
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [poll, &window] {
        if (!window.isVisible())
            return;
        poll->stop();
        std::printf("shown\n");
        std::fflush(stdout);
        QTimer::singleShot(300, &window, [] {
            QFile status(QStringLiteral("/proc/self/status"));
            if (status.open(QIODevice::ReadOnly)) {
                for (const QByteArray& line : status.readAll().split('\n')) {
                    if (line.startsWith("VmRSS:"))
                        std::printf("rss %s\n", line.mid(6).trimmed().split(' ').first().constData());
                }
            }
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    });
    poll->start(0);
}

} // namespace vestrel::bench
