#pragma once

#include "chat/ChatRecord.h"

#include <QList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace vestrel {
class TcpClient;
} // namespace vestrel

namespace vestrel::chat {

// The receiving thread of one connection: reads whole records from the window's TCP client and
// hands each to `dispatch` on the thread of `context`, waiting until they have run before it reads on
// (a flood cannot pile up in memory). Records that have already arrived together are handed over in one
// go and dispatched in order, so a burst costs one hand-over instead of one per record. It ends when
// the connection is no longer open or when asked to stop (no further record is dispatched then), and
// then deletes itself. Its wait for a dispatch ends too when it is asked to stop, so the owner may
// stop it and wait for it without serving events.
class TClientHandleThread : public QThread {
    Q_OBJECT
public:
    using Dispatch = std::function<void(const TChatRecord& record)>;

    TClientHandleThread(TcpClient& client, QObject* context, Dispatch dispatch);

    // The stop request: the loop ends after the read or dispatch in progress returns.
    void Terminate();

protected:
    void run() override;

private:
    TcpClient& m_client;
    QObject* m_context;
    Dispatch m_dispatch;
    quint64 m_generation;
    // Set by Terminate(); shared with hand-overs still queued after this thread has gone.
    std::shared_ptr<std::atomic<bool>> m_stopped = std::make_shared<std::atomic<bool>>(false);

    void handOver(QList<TChatRecord> batch);
};

} // namespace vestrel::chat
