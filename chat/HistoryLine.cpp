#include "chat/HistoryLine.h"

#include "chat/UserConfig.h"
#include "platform/Cp1252.h"

#include <QDir>

namespace vestrel::chat {

HistoryLine receivedHistoryLine(const TChatRecord& record, const QByteArray& ownNick, const QDateTime& when) {
    HistoryLine line;
    line.when = when;
    line.sender = cp1252::toUnicode(record.field(TChatRecord::SenderNick));
    line.isPrivate = !record.field(TChatRecord::Recipient).isEmpty();
    if (line.isPrivate)
        line.recipient = cp1252::toUnicode(ownNick);
    line.body = cp1252::toUnicode(record.field(TChatRecord::Text));
    return line;
}

HistoryLine sentHistoryLine(const QByteArray& ownNick, const QByteArray& typedText, const QByteArray& recipient,
                            const QDateTime& when) {
    HistoryLine line;
    line.when = when;
    line.sender = cp1252::toUnicode(ownNick);
    line.recipient = cp1252::toUnicode(recipient);
    line.isPrivate = true; // lines to everybody are not copied locally: they come back from the server
    line.outgoing = true;
    line.body = cp1252::toUnicode(typedText);
    return line;
}

QString historyFilePath() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/vestrel/chat-history.sqlite");
}

namespace HistoryRetention {

int load() {
    const QByteArray stored = UserConfigStore::readRegistryString(RegistryValue).trimmed();
    bool ok = false;
    const int days = stored.toInt(&ok);
    return ok && days >= 0 && days <= MaximumDays ? days : DefaultDays;
}

bool save(int days) {
    return UserConfigStore::writeRegistryString(RegistryValue, QByteArray::number(qBound(0, days, MaximumDays)));
}

} // namespace HistoryRetention

} // namespace vestrel::chat
