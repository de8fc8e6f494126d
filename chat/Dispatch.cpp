#include "chat/Dispatch.h"

#include "chat/ChatTexts.h"
#include "chat/ClientList.h"

namespace vestrel::chat {

namespace {

DispatchOutcome updateClientList(const TChatRecord& record, ClientList& clients, const QByteArray& ownNick) {
    DispatchOutcome outcome;
    if (!clients.receiveListRecord(record.field(TChatRecord::SenderHost), record.field(TChatRecord::Text))) {
        outcome.kind = DispatchOutcome::Nothing;
        return outcome;
    }
    outcome.kind = DispatchOutcome::ListUpdate;
    outcome.listBoxNames = clients.names();
    for (qsizetype i = 0; i < outcome.listBoxNames.size(); ++i) {
        if (sameTextIgnoringCase(outcome.listBoxNames[i], ownNick)) {
            outcome.listBoxNames.removeAt(i);
            break;
        }
    }
    outcome.listBoxNames.append(ChatText::Everybody);
    outcome.clientCount = clients.count();
    return outcome;
}

QByteArray conversationLine(const TChatRecord& record) {
    return record.field(TChatRecord::SenderNick) + ": " + record.field(TChatRecord::Text);
}

} // namespace

DispatchOutcome dispatchRecord(const TChatRecord& record, ClientList& clients, const QByteArray& ownNick) {
    if (record.hasCommand(ChatCommand::Logout) || record.hasCommand(ChatCommand::Login))
        return updateClientList(record, clients, ownNick);

    DispatchOutcome outcome;
    if (record.hasCommand(ChatCommand::MsgNotify)) {
        outcome.text = conversationLine(record);
        outcome.askReceipt = true;
    } else if (record.hasCommand(ChatCommand::Message)) {
        outcome.text = conversationLine(record);
    } else if (record.hasCommand(ChatCommand::Dialog)) {
        outcome.kind = DispatchOutcome::Dialog;
        outcome.text = '"' + record.field(TChatRecord::SenderMachine) + "\" Ti manda questo messaggio:\r" +
                       record.field(TChatRecord::Text);
    } else {
        outcome.kind = DispatchOutcome::UnknownCommand;
        outcome.text = "Comando sconosciuto \"" + record.field(TChatRecord::Command) + "\" Contenente il messaggio:\r" +
                       record.field(TChatRecord::Text);
    }
    return outcome;
}

TChatRecord makeReadReceipt(const TChatRecord& request, const ChatSender& me) {
    return makeChatRecord(ChatCommand::Dialog, me, "Il messaggio inviato a " + me.nick + " \xE8 stato letto!",
                          request.field(TChatRecord::SenderMachine));
}

} // namespace vestrel::chat
