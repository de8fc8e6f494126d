#include "chat/ClientList.h"

#include "platform/Cp1252.h"

namespace vestrel::chat {

void ClientList::setText(const QByteArray& text) {
    m_lines.clear();
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != '\r' && text[end] != '\n')
            ++end;
        m_lines.append(text.mid(start, end - start));
        if (end < size && text[end] == '\r' && end + 1 < size && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
}

bool ClientList::receiveListRecord(const QByteArray& partMarker, const QByteArray& text) {
    const std::optional<QByteArray> whole = m_parts.add(partMarker, text);
    if (!whole)
        return false;
    setText(*whole);
    return true;
}

QByteArrayList ClientList::names() const {
    QByteArrayList result;
    result.reserve(m_lines.size());
    for (const QByteArray& line : m_lines) {
        const qsizetype equals = line.indexOf('=');
        result.append(equals < 0 ? QByteArray() : line.left(equals));
    }
    return result;
}

QByteArray ClientList::keyFor(const QByteArray& nick) const {
    for (const QByteArray& line : m_lines) {
        const qsizetype equals = line.indexOf('=');
        if (equals >= 0 && sameTextIgnoringCase(line.left(equals), nick))
            return line.mid(equals + 1);
    }
    return {};
}

bool sameTextIgnoringCase(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    if (a == b)
        return true;
    return cp1252::toUnicode(a).compare(cp1252::toUnicode(b), Qt::CaseInsensitive) == 0;
}

} // namespace vestrel::chat
