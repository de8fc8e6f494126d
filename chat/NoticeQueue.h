#pragma once

#include "chat/ChatRecord.h"

#include <QByteArray>

#include <deque>
#include <optional>

namespace vestrel::chat {

// A box that a received record raises: a "DIALOG" text, an unknown command, or the question whether
// to send a read receipt (with the request it answers). Texts are cp1252 bytes.
struct ChatNotice {
    enum Kind { Information, Error, ReceiptQuestion, Summary };
    Kind kind = Information;
    QByteArray text;
    TChatRecord request; // ReceiptQuestion: the "MSGNOTIFY" record to answer
    int leftOut = 0;     // Summary: how many notices were not shown
};

// The boxes received records raise, shown one at a time while the records behind them go on being
// read. At most `bound` wait behind the open one; once that is full, every further notice is only
// counted until the count has been shown in one summary box, so a flood costs a few clicks.
class NoticeQueue {
public:
    static constexpr int DefaultBound = 5;

    explicit NoticeQueue(int bound = DefaultBound)
        : m_bound(bound) {}

    void add(ChatNotice notice);
    // The next box to show: a waiting notice, then the summary of those left out; nullopt when none.
    std::optional<ChatNotice> takeNext();
    void clear();

    qsizetype waiting() const { return qsizetype(m_waiting.size()); }
    int leftOut() const { return m_leftOut; }

private:
    int m_bound;
    std::deque<ChatNotice> m_waiting;
    int m_leftOut = 0;
};

} // namespace vestrel::chat
