#include "fb/Query.h"

namespace vestrel::fb {

Query::Query(Attachment& attachment, Transaction& transaction, const QByteArray& sql)
    : m_statement(std::make_unique<Statement>(attachment, transaction, sql)) {}

Query::~Query() = default;

void Query::Open() {
    Close();
    m_cursor = m_statement->openCursor();
    ensureRow(0);
}

void Query::Close() {
    m_cursor.reset();
    m_rows.clear();
    m_position = 0;
    m_exhausted = false;
}

bool Query::ensureRow(size_t index) {
    while (m_rows.size() <= index && m_cursor) {
        Row row;
        if (m_cursor->fetch(row)) {
            m_rows.push_back(std::move(row));
        } else {
            m_cursor.reset();
            m_exhausted = true;
        }
    }
    return index < m_rows.size();
}

void Query::First() {
    if (!Active())
        throw FbError("dataset is not open");
    m_position = 0;
    ensureRow(0);
}

void Query::Next() {
    if (Eof())
        return;
    ++m_position;
    ensureRow(m_position);
}

bool Query::Eof() const {
    return m_position >= m_rows.size();
}

const Row& Query::Current() const {
    if (!Active())
        throw FbError("dataset is not open");
    if (Eof())
        throw FbError("no current record");
    return m_rows[m_position];
}

} // namespace vestrel::fb
