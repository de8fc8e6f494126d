#pragma once

#include "chat/ChatRecord.h"

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::chat {

class ClientList;

// What the window does with one received record. Texts are cp1252 bytes.
struct DispatchOutcome {
    // Nothing: a part of a client list whose other parts are still to come.
    enum Kind { ListUpdate, Line, Dialog, UnknownCommand, Nothing };
    Kind kind = Line;
    QByteArrayList listBoxNames; // ListUpdate: the names to offer, own nick removed, "Tutti" last
    qsizetype clientCount = 0;   // ListUpdate: entries in the server's list, own entry included
    QByteArray text;             // Line: the conversation line; Dialog, UnknownCommand: the message
    bool askReceipt = false;     // Line of a "MSGNOTIFY" record
};

// Decides what a received record means; for list updates it also replaces `clients`.
DispatchOutcome dispatchRecord(const TChatRecord& record, ClientList& clients, const QByteArray& ownNick);

// The read receipt that answers `request`: a "DIALOG" addressed to the requester's machine name.
TChatRecord makeReadReceipt(const TChatRecord& request, const ChatSender& me);

} // namespace vestrel::chat
