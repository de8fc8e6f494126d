#include "chat/Composer.h"

#include "chat/ChatTexts.h"
#include "chat/ClientList.h"
#include "chat/GroupStore.h"
#include "platform/IniFile.h"

namespace vestrel {

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
        if (state.recipientText == ChatText::Everybody || state.recipientText.isEmpty())
            plan.steps.append({std::nullopt, record({})});
        else
            plan.steps.append({localLine, record(clients.keyFor(state.recipientText))});
        plan.clearInput = true;
        return plan;
    }

    if (state.groupText.isEmpty() || state.groupText == ChatText::AllClients) {
        plan.steps.append({std::nullopt, record({})});
        plan.clearInput = true;
        return plan;
    }

    const int last = GroupStore::LastMemberIndex(groups, state.groupText);
    if (last < 0)
        return plan;
    for (const QByteArray& member : GroupStore::LoadGroupMembers(groups, state.groupText))
        plan.steps.append({localLine, record(clients.keyFor(member))});
    plan.clearInput = true;
    return plan;
}

} // namespace vestrel
