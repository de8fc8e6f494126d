#include "chat/NoticeQueue.h"

namespace vestrel::chat {

void NoticeQueue::add(ChatNotice notice) {
    if (m_leftOut > 0 || qsizetype(m_waiting.size()) >= m_bound) {
        ++m_leftOut;
        return;
    }
    m_waiting.push_back(std::move(notice));
}

std::optional<ChatNotice> NoticeQueue::takeNext() {
    if (!m_waiting.empty()) {
        ChatNotice next = std::move(m_waiting.front());
        m_waiting.pop_front();
        return next;
    }
    if (m_leftOut == 0)
        return std::nullopt;
    ChatNotice summary;
    summary.kind = ChatNotice::Summary;
    summary.leftOut = m_leftOut;
    m_leftOut = 0;
    return summary;
}

void NoticeQueue::clear() {
    m_waiting.clear();
    m_leftOut = 0;
}

} // namespace vestrel::chat
