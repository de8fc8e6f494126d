#include "chat/Composer.h"

#include "chat/ChatTexts.h"
#include "chat/ClientList.h"
#include "chat/GroupStore.h"
#include "platform/Cp1252.h"
#include "platform/IniFile.h"

using namespace Qt::StringLiterals;

namespace vestrel::chat {

QByteArray typedTextFromLines(const QByteArrayList& lines) {
    QByteArray text;
    for (const QByteArray& line : lines)
        text += line + "\r\n";
    return text;
}

QByteArray chooseCommand(const ComposerState& state, bool* replaced) {
    if (replaced)
        *replaced = false;
    if (state.requestReceipt)
        return ChatCommand::MsgNotify;
    const QByteArray& chosen = state.commandText;
    if (chosen == ChatCommand::Message || chosen == ChatCommand::Dialog || chosen == ChatCommand::MsgNotify)
        return chosen;
    if (replaced)
        *replaced = true;
    return ChatCommand::Message;
}

SendPlan planSend(const ComposerState& state, const ClientList& clients, const IniFile& groups, const ChatSender& me) {
    SendPlan plan;
    if (state.typedText.isEmpty())
        return plan;

    bool replaced = false;
    const QByteArray command = chooseCommand(state, &replaced);
    const QByteArray localLine = me.nick + ": " + state.typedText;
    const auto record = [&](const QByteArray& recipient) {
        return makeChatRecord(command.constData(), me, state.typedText, recipient);
    };

    if (!state.toGroup) {
        if (replaced)
            plan.commandTextAfter = QByteArray(ChatCommand::Message);
        if (state.recipientText == ChatText::Everybody || state.recipientText.isEmpty()) {
            plan.steps.append({std::nullopt, record({})});
        } else {
            const QByteArray key = clients.keyFor(state.recipientText);
            if (key.isEmpty()) {
                plan.unreachable.append(state.recipientText);
                return plan; // the input box keeps the text, to be sent once the recipient is there
            }
            plan.steps.append({localLine, record(key)});
        }
        plan.clearInput = true;
        return plan;
    }

    if (state.groupText.isEmpty() || state.groupText == ChatText::AllClients) {
        plan.steps.append({std::nullopt, record({})});
        plan.clearInput = true;
        return plan;
    }

    // A negative last index gives no members: nothing is sent and the input box keeps its text.
    for (const QByteArray& member : GroupStore::LoadGroupMembers(groups, state.groupText)) {
        const QByteArray key = member.isEmpty() ? QByteArray() : clients.keyFor(member);
        if (key.isEmpty())
            plan.unreachable.append(member);
        else
            plan.steps.append({localLine, record(key)});
    }
    plan.clearInput = !plan.steps.isEmpty();
    return plan;
}

QString groupSelectorHint(const QByteArray& groupText, const IniFile& groups) {
    if (groupText.isEmpty())
        return u"Scegli il gruppo al quale inviare il messaggio"_s;
    if (groupText == ChatText::AllClients)
        return u"Invia il messaggio a tutti i client"_s;
    return cp1252::toUnicode(GroupStore::LoadGroupMembers(groups, groupText).join(", "));
}

} // namespace vestrel::chat
