#pragma once

#include "fb/RowSource.h"
#include "fb/Statement.h"
#include "fb/Value.h"

#include <memory>
#include <vector>

namespace vestrel::fb {

// A select and its rows, walked like a dataset: First, Next, Eof and the current row's fields.
// Rows are fetched as the walk reaches them and kept, so First() can start again without a new query.
class Query final : public RowSource {
public:
    Query(Attachment& attachment, Transaction& transaction, const QByteArray& sql);
    ~Query() override;
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Statement& statement() { return *m_statement; }

    void Open();
    void Close();
    bool Active() const { return m_cursor != nullptr || m_exhausted; }

    void First() override;
    void Next() override;
    // True when the walk has passed the last row (at once for an empty result).
    bool Eof() const override;
    // Rows fetched so far.
    qsizetype FetchedCount() const { return qsizetype(m_rows.size()); }

    // The current row; raises FbError past the end or when closed.
    const Row& Current() const;
    const Value& FieldByName(QByteArrayView name) const override { return Current().FieldByName(name); }

private:
    bool ensureRow(size_t index);
    std::unique_ptr<Statement> m_statement;
    std::unique_ptr<Cursor> m_cursor;
    std::vector<Row> m_rows;
    size_t m_position = 0;
    bool m_exhausted = false;
};

} // namespace vestrel::fb
