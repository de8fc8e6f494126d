#include "chat/ConnectAttempt.h"

#include "platform/TcpClient.h"

#include <thread>

namespace vestrel::chat {

void startConnectAttempt(std::shared_ptr<TcpClient> client, int timeoutMs, QObject* context,
                         std::function<void(bool ok, const QString& failure)> done) {
    auto result = std::make_shared<detail::ConnectResult>();
    result->moveToThread(nullptr);
    QObject::connect(result.get(), &detail::ConnectResult::finished, context, std::move(done), Qt::QueuedConnection);
    std::thread([client = std::move(client), result = std::move(result), timeoutMs] {
        try {
            client->Connect(timeoutMs);
            emit result->finished(true, QString());
        } catch (const std::exception& failure) {
            emit result->finished(false, QString::fromUtf8(failure.what()));
        }
    }).detach();
}

} // namespace vestrel::chat
