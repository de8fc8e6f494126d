#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <optional>

namespace vestrel::chat {

// A client list longer than one record's text field travels as several consecutive "Login" (or
// "Logout") records, each holding whole `nick=key` lines. The sender-host field of each such record
// carries "<part>/<parts>" (for example "2/3"); a list that fits in one record carries nothing there,
// exactly as before. A client that keeps only the last list record it receives still holds a valid
// (shorter) list; ours joins the parts.
struct ClientListPart {
    int index = 1; // 1-based
    int count = 1;
};

QByteArray clientListPartMarker(ClientListPart part);
// The part a list record's sender-host field names; nullopt for a whole list (empty or any other text).
std::optional<ClientListPart> parseClientListPart(const QByteArray& marker);

// Packs `lines` (each `nick=key`, without line end) into record texts of at most `capacity` bytes,
// every line followed by CR LF. A line that cannot fit even alone is left out and appended to `unfit`.
// An empty list gives one empty text, so that clients still learn that nobody is connected.
QByteArrayList packClientListLines(const QByteArrayList& lines, qsizetype capacity, QByteArrayList* unfit = nullptr);

// Joins the parts of one list as they arrive. A whole list, or the last part of a complete run,
// yields the list text; a part out of order throws away what was gathered, so a list is never half
// replaced.
class ClientListAssembler {
public:
    std::optional<QByteArray> add(const QByteArray& marker, const QByteArray& text);
    void reset();

private:
    QByteArray m_gathered;
    int m_expected = 0; // the next part index awaited, 0 when no run is open
    int m_count = 0;
};

} // namespace vestrel::chat
