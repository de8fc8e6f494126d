#include "chat/ChatRecord.h"

#include <cstring>

namespace vestrel::chat {

TChatRecord TChatRecord::fromBytes(const char* bytes) {
    TChatRecord record;
    std::memcpy(record.m_bytes.data(), bytes, Size);
    return record;
}

QByteArray TChatRecord::fieldOf(const char* record, Field f) {
    const char* start = record + f * FieldSize;
    const auto length = static_cast<unsigned char>(start[0]);
    return QByteArray(start + 1, length);
}

void TChatRecord::setField(Field f, const QByteArray& value) {
    char* start = m_bytes.data() + f * FieldSize;
    const auto length = static_cast<int>(std::min<qsizetype>(value.size(), MaxText));
    std::memset(start, 0, FieldSize);
    start[0] = static_cast<char>(length);
    std::memcpy(start + 1, value.constData(), size_t(length));
}

bool TChatRecord::commandIs(const char* record, const char* word) {
    const auto length = std::strlen(word);
    return static_cast<unsigned char>(record[0]) == length && std::memcmp(record + 1, word, length) == 0;
}

TChatRecord makeChatRecord(const char* command, const ChatSender& sender, const QByteArray& text,
                           const QByteArray& recipient) {
    TChatRecord record;
    record.setField(TChatRecord::Command, QByteArray(command));
    record.setField(TChatRecord::SenderNick, sender.nick);
    record.setField(TChatRecord::SenderHost, sender.host);
    record.setField(TChatRecord::SenderMachine, sender.machine);
    record.setField(TChatRecord::Text, text);
    record.setField(TChatRecord::Recipient, recipient);
    return record;
}

} // namespace vestrel::chat
