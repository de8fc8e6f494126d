#include "chat/ClientHandleThread.h"

#include "chat/ChatLog.h"
#include "platform/TcpClient.h"

#include <QSemaphore>

namespace vestrel::chat {

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
            // One record, waiting for it; then those that have already arrived behind it.
            static constexpr qsizetype maxBatch = 64;
            QList<TChatRecord> batch;
            do {
                batch.append(TChatRecord());
                m_client.ReadBuffer(batch.last().data(), TChatRecord::Size, m_generation);
            } while (batch.size() < maxBatch && m_client.ReadAheadBytes() >= TChatRecord::Size);
            handOver(std::move(batch));
        } catch (const std::exception& failure) {
            // a read that ends with the connection; the next check of the loop sees it closed
            qCDebug(lcChat) << "receiving ended:" << failure.what();
        } catch (...) {
            qCDebug(lcChat) << "receiving ended: unknown failure";
        }
    }
}

void TClientHandleThread::Terminate() {
    *m_stopped = true;
    requestInterruption();
}

void TClientHandleThread::handOver(QList<TChatRecord> batch) {
    // The dispatch runs on the context's thread; this thread waits for it, looking up now and then
    // whether it was asked to stop, so that it never hangs on a thread that no longer serves events.
    auto handled = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        m_context,
        [batch = std::move(batch), handled, stopped = m_stopped, dispatch = m_dispatch] {
            for (const TChatRecord& record : batch) {
                if (*stopped)
                    break; // asked to stop: the records still waiting go with the connection
                try {
                    dispatch(record);
                } catch (const std::exception& failure) {
                    // a record whose handling fails is dropped; the next one is handled as usual
                    qCWarning(lcChat) << "received record dropped:" << failure.what();
                } catch (...) {
                    qCWarning(lcChat) << "received record dropped: unknown failure";
                }
            }
            handled->release();
        },
        Qt::QueuedConnection);
    static constexpr int pollMs = 20;
    while (!handled->tryAcquire(1, pollMs)) {
        if (isInterruptionRequested())
            return;
    }
}

} // namespace vestrel::chat
