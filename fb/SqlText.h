#pragma once

#include <QByteArray>

namespace vestrel::fb::detail {

// When `sql` at `i` opens a quoted text ('...'), a quoted identifier ("...") or a comment ("--" to the
// end of the line, "/* ... */"), the index just past it, or the end of `sql` when it is not closed;
// otherwise `i`. A doubled quote stays inside the quotes; the line break after "--" is not part of the
// comment. `isComment`, when given, tells which of the two was skipped.
qsizetype skipQuotedOrComment(const QByteArray& sql, qsizetype i, bool* isComment = nullptr);

} // namespace vestrel::fb::detail
