#pragma once

#include <QByteArray>

#include <array>

namespace vestrel::chat {

// The command words of the chat protocol, compared as whole fields, case-sensitive.
namespace ChatCommand {
inline constexpr char Login[] = "Login";
inline constexpr char Logout[] = "Logout";
inline constexpr char Message[] = "MESSAGE";
inline constexpr char Dialog[] = "DIALOG";
inline constexpr char MsgNotify[] = "MSGNOTIFY";
// Only between a client and a server with TLS: the account and password, and the server's yes.
inline constexpr char Auth[] = "AUTH";
inline constexpr char AuthOk[] = "AUTHOK";
} // namespace ChatCommand

// The chat wire record: six short strings of 256 bytes, 1536 bytes in all, no other framing.
// Each field is a length byte followed by up to 255 cp1252 characters; bytes past the length are
// zero when we build a record and never read when we receive one.
class TChatRecord {
public:
    static constexpr int FieldSize = 256;
    static constexpr int FieldCount = 6;
    static constexpr int Size = FieldSize * FieldCount;
    static constexpr int MaxText = FieldSize - 1;

    enum Field { Command = 0, SenderNick, SenderHost, SenderMachine, Text, Recipient };

    TChatRecord() { m_bytes.fill(0); }
    // A record from exactly Size received bytes.
    static TChatRecord fromBytes(const char* bytes);

    QByteArray field(Field f) const { return fieldOf(data(), f); }
    // Stores the first 255 characters of `value`; the rest of the field becomes zero.
    void setField(Field f, const QByteArray& value);
    bool hasCommand(const char* word) const { return commandIs(data(), word); }

    // The same reads on the Size bytes of a record still lying in a receive buffer.
    static QByteArray fieldOf(const char* record, Field f);
    static bool commandIs(const char* record, const char* word);

    const char* data() const { return m_bytes.data(); }
    char* data() { return m_bytes.data(); }
    QByteArray toByteArray() const { return QByteArray(m_bytes.data(), Size); }

private:
    std::array<char, Size> m_bytes;
};

// The sender fields every record a client builds carries.
struct ChatSender {
    QByteArray nick;
    QByteArray host;
    QByteArray machine;
};

TChatRecord makeChatRecord(const char* command, const ChatSender& sender, const QByteArray& text = {},
                           const QByteArray& recipient = {});

} // namespace vestrel::chat
