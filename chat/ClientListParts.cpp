#include "chat/ClientListParts.h"

namespace vestrel::chat {

namespace {

// More parts than this cannot come from one list of connected clients; such a marker is not ours.
constexpr int MaxParts = 10000;

} // namespace

QByteArray clientListPartMarker(ClientListPart part) {
    return QByteArray::number(part.index) + '/' + QByteArray::number(part.count);
}

std::optional<ClientListPart> parseClientListPart(const QByteArray& marker) {
    const qsizetype slash = marker.indexOf('/');
    if (slash <= 0)
        return std::nullopt;
    bool indexOk = false;
    bool countOk = false;
    const int index = marker.left(slash).toInt(&indexOk);
    const int count = marker.mid(slash + 1).toInt(&countOk);
    if (!indexOk || !countOk || count < 1 || count > MaxParts || index < 1 || index > count)
        return std::nullopt;
    return ClientListPart{index, count};
}

QByteArrayList packClientListLines(const QByteArrayList& lines, qsizetype capacity, QByteArrayList* unfit) {
    QByteArrayList texts{QByteArray()};
    for (const QByteArray& line : lines) {
        const qsizetype size = line.size() + 2;
        if (size > capacity) {
            if (unfit)
                unfit->append(line);
            continue;
        }
        if (texts.last().size() + size > capacity)
            texts.append(QByteArray());
        texts.last() += line + "\r\n";
    }
    return texts;
}

std::optional<QByteArray> ClientListAssembler::add(const QByteArray& marker, const QByteArray& text) {
    const std::optional<ClientListPart> part = parseClientListPart(marker);
    if (!part || part->count == 1) {
        reset();
        return text;
    }
    if (part->index == 1) {
        m_gathered.clear();
        m_expected = 1;
        m_count = part->count;
    }
    if (part->index != m_expected || part->count != m_count) {
        reset();
        return std::nullopt;
    }
    m_gathered += text;
    // A part that does not end its last line would glue it to the next part's first line.
    if (!m_gathered.isEmpty() && !m_gathered.endsWith('\n') && !m_gathered.endsWith('\r'))
        m_gathered += "\r\n";
    if (part->index < part->count) {
        ++m_expected;
        return std::nullopt;
    }
    QByteArray whole = std::move(m_gathered);
    reset();
    return whole;
}

void ClientListAssembler::reset() {
    m_gathered.clear();
    m_expected = 0;
    m_count = 0;
}

} // namespace vestrel::chat
