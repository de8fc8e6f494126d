#pragma once

#include <QString>

#include <exception>

class QAbstractButton;
class QAction;
class QLabel;
class QWidget;

namespace vestrel::chat {

// Texts of the chat client's own messages that the language library gives by number. The numbers
// follow those of the windows; the Italian text is used when the library lacks one.
namespace ChatMessage {
inline constexpr int EnterConnectionValues = 49920;
inline constexpr int CannotConnect = 49921;
inline constexpr int ConnectionValuesMissing = 49922;
inline constexpr int ServerDisconnected = 49923;
inline constexpr int ReadReceiptQuestion = 49924;
inline constexpr int ClientAlreadyMember = 49925;
inline constexpr int BalloonWhenVisible = 49926;
inline constexpr int BalloonWhenHidden = 49927;
inline constexpr int PopupTitle = 49928;
inline constexpr int ClientConnected = 49929;
inline constexpr int ConnectedClientsCount = 49930;
// Texts of ours beside those of the windows' tables.
inline constexpr int NotConnectedRecipient = 49900;
inline constexpr int NotConnectedMembers = 49901;
inline constexpr int MoreNotices = 49902;
inline constexpr int Everybody = 49903;  // the client list's last entry, "Tutti" on the wire
inline constexpr int AllClients = 49904; // the group selector's first entry, "Tutti i Client" on the wire
inline constexpr int NotSentOffline = 49905;
inline constexpr int CannotSave = 49906;
inline constexpr int NotConnected = 49907;
inline constexpr int CharactersNotSendable = 49908;
inline constexpr int NickForbiddenCharacters = 49909;
inline constexpr int GroupNameTaken = 49910;
inline constexpr int StoredNumberInvalid = 49911;
} // namespace ChatMessage

// The language library's text `ident`, or `builtIn` when no library is loaded or it lacks the number:
// a missing library never leaves a window without its texts.
QString localText(int ident, const QString& builtIn);

// What the user reads about a failure: the language library's text for failures to write files or the
// registry, for a stored number that cannot be read and for a connection that is not open (their own
// messages are for the log); others as raised.
QString failureMessage(const std::exception& failure);

// The refusal of typed text cp1252 cannot hold, naming the characters; empty when all of it fits.
QString unsendableCharactersMessage(const QString& typed);

// Replace a control's caption, a window's title or a control's hint with text `ident` when the library
// has one; otherwise the control keeps the text it has.
void applyText(QAbstractButton* button, int ident);
void applyText(QLabel* label, int ident);
void applyText(QAction* action, int ident);
void applyTitle(QWidget* window, int ident);
void applyHint(QWidget* control, int ident);

} // namespace vestrel::chat
