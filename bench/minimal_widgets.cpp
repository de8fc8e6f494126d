// The yardstick of the start-up benchmark: the least a Qt Widgets program does to show a window.
#include "bench/StartupProbe.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("Chat Vestrel")));
    window.resize(365, 510);
    window.show();
    vestrel::bench::probeStartup(window);
    return app.exec();
}
