#pragma once

#include "chat/SecureConnection.h"

#include <QByteArray>

#include <memory>

namespace vestrel {
class MessageBoxes;
class TcpClient;
} // namespace vestrel

namespace vestrel::chat {

struct TUserConfig;

// The window's side of the encrypted connection: it makes the TCP client open its connections
// through TLS when the settings ask for it, and answers what an opening that failed came to.
class SecureConnect {
public:
    // Before each connect: TLS with the account's password (asked now when no secret store holds
    // it), or the plain connection.
    void prepare(TcpClient& client, const TUserConfig& config, MessageBoxes& boxes);

    // After a connect that failed. True when it has told the user why (an unknown certificate the
    // user did not trust, a changed one, a refused account); `retry` is set when the user chose to
    // trust a new certificate, which is then pinned.
    bool explainFailure(MessageBoxes& boxes, bool& retry);
    // After a connect that failed: whether calling again cannot help until the user acts, because the
    // server showed a certificate not trusted for it or refused the account.
    bool failureIsLasting() const;

private:
    std::shared_ptr<SecureOpening> m_last = std::make_shared<SecureOpening>();
    QByteArray m_host;
    int m_port = 0;
};

} // namespace vestrel::chat
