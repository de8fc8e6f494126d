#include "chat/ClientHandleThread.h"

#include "chat/ChatLog.h"
#include "platform/TcpClient.h"

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
            m_batch.clear();
            do {
                m_batch.append(TChatRecord());
                m_client.ReadBuffer(m_batch.last().data(), TChatRecord::Size, m_generation);
            } while (m_batch.size() < maxBatch && m_client.ReadAheadBytes() >= TChatRecord::Size);
            QMetaObject::invokeMethod(
                m_context, [this] { dispatchBatch(); }, Qt::BlockingQueuedConnection);
        } catch (const std::exception& failure) {
            // a read that ends with the connection; the next check of the loop sees it closed
            qCDebug(lcChat) << "receiving ended:" << failure.what();
        } catch (...) {
            qCDebug(lcChat) << "receiving ended: unknown failure";
        }
    }
}

void TClientHandleThread::dispatchBatch() {
    for (const TChatRecord& record : std::as_const(m_batch)) {
        if (isInterruptionRequested())
            return; // asked to stop: the records still waiting go with the connection
        try {
            m_dispatch(record);
        } catch (const std::exception& failure) {
            // a record whose handling fails is dropped; the next one is handled as usual
            qCWarning(lcChat) << "received record dropped:" << failure.what();
        } catch (...) {
            qCWarning(lcChat) << "received record dropped: unknown failure";
        }
    }
}

} // namespace vestrel::chat
