#pragma once

#include "chat/ChatRecord.h"

#include <QList>
#include <QThread>

#include <functional>

namespace vestrel {
class TcpClient;
} // namespace vestrel

namespace vestrel::chat {

// The receiving thread of one connection: reads whole records from the window's TCP client and
// hands each to `dispatch` on the thread of `context`, waiting until it has run. Records that have
// already arrived together are handed over in one go and dispatched in order, so a burst costs one
// hand-over instead of one per record. It ends when the connection is no longer open or when asked to
// stop (no further record is dispatched then), and then deletes itself.
class TClientHandleThread : public QThread {
    Q_OBJECT
public:
    using Dispatch = std::function<void(const TChatRecord& record)>;

    TClientHandleThread(TcpClient& client, QObject* context, Dispatch dispatch);

    // The stop request: the loop ends after the read or dispatch in progress returns.
    void Terminate() { requestInterruption(); }

protected:
    void run() override;

private:
    TcpClient& m_client;
    QObject* m_context;
    Dispatch m_dispatch;
    quint64 m_generation;
    void dispatchBatch();

    QList<TChatRecord> m_batch; // written here only while no dispatch runs, read by the dispatch only
};

} // namespace vestrel::chat
