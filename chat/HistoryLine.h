#pragma once

#include "chat/ChatRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace vestrel::chat {

// One line of the conversation pane as the history keeps it: the pane showed `sender` + ": " + `body`.
struct HistoryLine {
    qint64 id = 0; // given by the store, rising in the order the lines were shown
    QDateTime when;
    QString sender;
    QString recipient; // the nick or group written to; empty when the line went to everybody
    bool isPrivate = false;
    bool outgoing = false; // typed here rather than received
    QString body;

    QString paneText() const { return sender + QStringLiteral(": ") + body; }
    bool operator==(const HistoryLine&) const = default;
};

// The line a received "MESSAGE" or "MSGNOTIFY" record puts in the pane. A record that names a
// recipient reached only this user; one without reached everybody.
HistoryLine receivedHistoryLine(const TChatRecord& record, const QByteArray& ownNick, const QDateTime& when);

// The local copy of a message typed here and sent to `recipient` (a nick, or a group's name).
HistoryLine sentHistoryLine(const QByteArray& ownNick, const QByteArray& typedText, const QByteArray& recipient,
                            const QDateTime& when);

// Where the user's history lives: ${XDG_DATA_HOME:-$HOME/.local/share}/vestrel/chat-history.sqlite.
QString historyFilePath();

// "Conserva la cronologia per N giorni": how many days of history to keep, 0 for none. It lives in the
// chat's settings key as "HistoryDays"; a missing or unreadable value means the default.
namespace HistoryRetention {
inline constexpr int DefaultDays = 365;
inline constexpr int MaximumDays = 36500;
inline constexpr char RegistryValue[] = "HistoryDays";
int load();
bool save(int days);
} // namespace HistoryRetention

} // namespace vestrel::chat
