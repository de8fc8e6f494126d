#pragma once

#include "chat/ClientListParts.h"

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::chat {

// The list of connected clients as the server last sent it: one `nick=key` entry per line.
class ClientList {
public:
    // Replaces the entries with the lines of `text`. CR LF, a lone CR and a lone LF all end a line;
    // a final line break does not start another entry.
    void setText(const QByteArray& text);
    // Takes one received list record: its sender-host field (the part marker) and its text. True when
    // the list was replaced: by a whole list, or by the last part of a list sent in several records.
    bool receiveListRecord(const QByteArray& partMarker, const QByteArray& text);
    void clear() {
        m_lines.clear();
        m_parts.reset();
    }

    qsizetype count() const { return m_lines.size(); }
    const QByteArrayList& lines() const { return m_lines; }
    // The text before the first '=' of each entry (empty for a line without one), in list order.
    QByteArrayList names() const;
    // The key of the first entry whose name equals `nick` without regard to case; empty when none.
    QByteArray keyFor(const QByteArray& nick) const;

private:
    QByteArrayList m_lines;
    ClientListAssembler m_parts;
};

// Case-insensitive comparison of two cp1252 texts, as the user sees them.
bool sameTextIgnoringCase(const QByteArray& a, const QByteArray& b);

} // namespace vestrel::chat
