#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

namespace vestrel {

// Lets one instance of a program run per user and per installation.
//
// The first instance holds a lock file in the user's runtime directory and listens on a local socket
// of the same name; a later start finds the lock taken, asks the first instance through the socket to
// come to the foreground, and ends. The name includes a hash of the program and registry folders, so
// two installations (or the demo's two clients) do not count as the same program.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& programName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the running instance; it then listens for activation requests.
    bool tryAcquire();
    // Asks the running instance to come to the foreground; false when it could not be reached.
    bool activateRunning(int timeoutMs = 2000) const;

signals:
    void activationRequested();

private:
    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vestrel
