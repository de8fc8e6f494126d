#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace vestrel {
class TcpClient;
} // namespace vestrel

namespace vestrel::chat {

// Runs one blocking TcpClient::Connect on a thread of its own and hands the result to `done` on the
// thread of `context`, through its event loop. Nobody waits for the thread: it keeps the client alive
// until the connect returns, so the window may go away meanwhile, and then `done` is simply not called.
void startConnectAttempt(std::shared_ptr<TcpClient> client, int timeoutMs, QObject* context,
                         std::function<void(bool ok, const QString& failure)> done);

namespace detail {
// Carries the result across threads; it belongs to no thread, so the attempt's thread may delete it.
class ConnectResult : public QObject {
    Q_OBJECT
signals:
    void finished(bool ok, const QString& failure);
};
} // namespace detail

} // namespace vestrel::chat
