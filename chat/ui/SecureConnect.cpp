#include "chat/ui/SecureConnect.h"

#include "chat/ChatLog.h"
#include "chat/ChatPassword.h"
#include "chat/ServerTrust.h"
#include "chat/UserConfig.h"
#include "chat/ui/LocalTexts.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"
#include "platform/TcpClient.h"

#include <QInputDialog>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

void SecureConnect::prepare(TcpClient& client, const TUserConfig& config, MessageBoxes& boxes) {
    // A connect attempt's thread may outlive the window: the opener keeps its own share of the result.
    m_last = std::make_shared<SecureOpening>();
    if (!ServerTrust::tlsEnabled()) {
        client.setOpener({});
        return;
    }
    m_host = config.Server;
    m_port = config.Porta.toInt();
    bool storeAnswered = true;
    QByteArray password = ChatPassword::get(config.Nick, &storeAnswered);
    if (password.isEmpty() && !storeAnswered) {
        // No secret store: asked once a run, kept in memory only.
        bool ok = false;
        const QString typed = QInputDialog::getText(
            nullptr, u"Chat Vestrel"_s,
            localText(49964,
                      u"Password per %1 (nessun archivio sicuro disponibile: resta in memoria fino alla chiusura)"_s)
                .arg(cp1252::toUnicode(config.Nick)),
            QLineEdit::Password, QString(), &ok);
        if (ok && !typed.isEmpty()) {
            if (const QStringList bad = cp1252::unrepresentable(typed); !bad.isEmpty())
                boxes.warning(u"La password contiene caratteri non ammessi: %1"_s.arg(bad.join(u' ')));
            else
                password = cp1252::fromUnicode(typed);
            ChatPassword::remember(config.Nick, password);
        }
    }
    client.setOpener([last = m_last, host = m_host, port = m_port, pinned = ServerTrust::pinned(m_host, m_port),
                      account = config.Nick, password](int timeoutMs) {
        *last = openSecureConnection(host, port, pinned, account, password, timeoutMs);
        if (last->status != SecureOpening::Status::Open)
            throw TcpError("encrypted connection failed: " + last->message.toStdString());
        return last->descriptor;
    });
}

bool SecureConnect::failureIsLasting() const {
    switch (m_last->status) {
    case SecureOpening::Status::UnknownCertificate:
    case SecureOpening::Status::ChangedCertificate:
    case SecureOpening::Status::Refused:
        return true;
    case SecureOpening::Status::Open:
    case SecureOpening::Status::Failed:
        break;
    }
    return false;
}

bool SecureConnect::explainFailure(MessageBoxes& boxes, bool& retry) {
    retry = false;
    const QString server = u"%1:%2"_s.arg(cp1252::toUnicode(m_host)).arg(m_port);
    const QString fingerprint = QString::fromLatin1(m_last->fingerprint);
    switch (m_last->status) {
    case SecureOpening::Status::UnknownCertificate:
        if (boxes.question(localText(49962, u"Il server %1 presenta un certificato che nessuna autorità riconosciuta "
                                            u"ha firmato.\n\nImpronta SHA-256:\n%2\n\nConfrontarla con quella "
                                            u"comunicata dall'amministratore. Fidarsi di questo server?"_s)
                               .arg(server, fingerprint))) {
            retry = ServerTrust::pin(m_host, m_port, m_last->fingerprint);
            qCInfo(lcChat) << "certificate of" << server << "trusted:" << fingerprint;
        }
        return true;
    case SecureOpening::Status::ChangedCertificate:
        qCWarning(lcChat) << "certificate of" << server << "changed, refused:" << fingerprint;
        boxes.error(localText(49963, u"ATTENZIONE: il certificato del server %1 è cambiato.\n\nImpronta attesa:\n%2\n"
                                     u"Impronta ricevuta:\n%3\n\nQualcuno potrebbe intercettare la chat: connessione "
                                     u"rifiutata. Avvisare l'amministratore."_s)
                        .arg(server, QString::fromLatin1(ServerTrust::pinned(m_host, m_port)), fingerprint));
        return true;
    case SecureOpening::Status::Refused:
        boxes.warning(m_last->message);
        return true;
    case SecureOpening::Status::Open:
    case SecureOpening::Status::Failed:
        break;
    }
    return false;
}

} // namespace vestrel::chat
