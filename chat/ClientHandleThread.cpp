#include "chat/ClientHandleThread.h"

#include "chat/ChatLog.h"
#include "platform/TcpClient.h"

namespace vestrel {

TClientHandleThread::TClientHandleThread(TcpClient& client, QObject* context, Dispatch dispatch)
    : m_client(client)
    , m_context(context)
    , m_dispatch(std::move(dispatch))
    , m_generation(client.Generation()) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TClientHandleThread::run() {
    while (!isInterruptionRequested()) {
        // A later connect belongs to a later thread; this one only serves the connection it began with.
        if (!m_client.Connected() || m_client.Generation() != m_generation) {
            requestInterruption();
            break;
        }
        try {
            m_client.ReadBuffer(m_buffer.data(), TChatRecord::Size, m_generation);
            QMetaObject::invokeMethod(
                m_context,
                [this] {
                    try {
                        m_dispatch(m_buffer);
                    } catch (const std::exception& failure) {
                        // a record whose handling fails is dropped; the next one is read as usual
                        qCWarning(lcChat) << "received record dropped:" << failure.what();
                    } catch (...) {
                        qCWarning(lcChat) << "received record dropped: unknown failure";
                    }
                },
                Qt::BlockingQueuedConnection);
        } catch (const std::exception& failure) {
            // a read that ends with the connection; the next check of the loop sees it closed
            qCDebug(lcChat) << "receiving ended:" << failure.what();
        } catch (...) {
            qCDebug(lcChat) << "receiving ended: unknown failure";
        }
    }
}

} // namespace vestrel
