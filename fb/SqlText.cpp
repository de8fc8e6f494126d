#include "fb/SqlText.h"

namespace vestrel::fb::detail {

qsizetype skipQuotedOrComment(const QByteArray& sql, qsizetype i, bool* isComment) {
    const qsizetype n = sql.size();
    if (i >= n)
        return i;
    const char c = sql.at(i);
    const char next = i + 1 < n ? sql.at(i + 1) : '\0';
    if (isComment)
        *isComment = (c == '-' && next == '-') || (c == '/' && next == '*');
    if (c == '\'' || c == '"') {
        qsizetype j = i + 1;
        while (j < n) {
            if (sql.at(j) == c) {
                if (j + 1 < n && sql.at(j + 1) == c) {
                    j += 2;
                    continue;
                }
                return j + 1;
            }
            ++j;
        }
        return n;
    }
    if (c == '-' && next == '-') {
        const qsizetype end = sql.indexOf('\n', i);
        return end < 0 ? n : end;
    }
    if (c == '/' && next == '*') {
        const qsizetype end = sql.indexOf("*/", i + 2);
        return end < 0 ? n : end + 2;
    }
    return i;
}

} // namespace vestrel::fb::detail
