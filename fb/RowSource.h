#pragma once

#include "fb/Value.h"

namespace vestrel::fb {

// Rows walked like a dataset: First, Next, Eof and the current row's fields. The evaluation of the
// reminders walks any of them (a read-only query or the editable dataset).
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual bool Eof() const = 0;
    // A field of the current row; raises FbError past the end or for a column the rows do not have.
    virtual const Value& FieldByName(QByteArrayView name) const = 0;
};

} // namespace vestrel::fb
