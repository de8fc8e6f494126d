#pragma once

#include "chat/ChatRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vestrel {
class IniFile;
} // namespace vestrel

namespace vestrel::chat {

class ClientList;

// The composer's controls as one send sees them. Texts are cp1252 bytes.
struct ComposerState {
    QByteArray commandText; // the command list's current text, empty when nothing is chosen
    bool requestReceipt = false;
    bool toGroup = false;
    QByteArray groupText;     // the group selector's text
    QByteArray recipientText; // the recipient box's text
    QByteArray typedText;     // the input box's lines, each followed by CR LF
};

// One send, worked out in full before anything is written: for each record, the line to add to the
// conversation pane first (if any), then the record. A named addressee the client list gives no
// routing key for is never written to (an empty recipient field would reach everybody): it is left
// out and named in `unreachable`.
struct SendPlan {
    struct Step {
        std::optional<QByteArray> localLine;
        TChatRecord record;
    };
    QList<Step> steps;
    bool clearInput = false;                    // clear the input box after the last write
    std::optional<QByteArray> commandTextAfter; // new text for the command list, when it changes
    QByteArrayList unreachable;                 // the recipient, or the group members, left out
};

// The input box's text as the composer sends it: each line followed by CR LF.
QByteArray typedTextFromLines(const QByteArrayList& lines);

// The command word for every record of one send, and whether it replaced an empty or unknown choice.
QByteArray chooseCommand(const ComposerState& state, bool* replaced = nullptr);

// Works out one send. `groups` is the open group file; a group whose last index is missing or not a
// number raises ConversionError before anything is planned.
SendPlan planSend(const ComposerState& state, const ClientList& clients, const IniFile& groups, const ChatSender& me);

// The group selector's hint for its current text: what choosing it sends to, the members of a group
// joined by ", ". Raises ConversionError like planSend for a group whose last index is unreadable.
QString groupSelectorHint(const QByteArray& groupText, const IniFile& groups);

} // namespace vestrel::chat
