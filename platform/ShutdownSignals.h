#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace vestrel {

// Turns SIGTERM and SIGINT into a Qt signal on the thread that created this object, so the program
// can log out properly before it ends. Only one instance may exist at a time.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void shutdownRequested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vestrel
