#pragma once

#include "chat/ChatRecord.h"

#include <QThread>

#include <functional>

namespace vestrel {

class TcpClient;

// The receiving thread of one connection: reads whole records from the window's TCP client and
// hands each to `dispatch` on the thread of `context`, waiting until it has run. It ends when the
// connection is no longer open or when asked to stop, and then deletes itself.
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
    TChatRecord m_buffer; // written here only while no dispatch runs, read by the dispatch only
};

} // namespace vestrel
