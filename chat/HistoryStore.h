#pragma once

#include "chat/HistoryLine.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vestrel {
class Clock;
} // namespace vestrel

namespace vestrel::chat {

// The user's chat history in one SQLite file with a full-text index that ignores case and accents.
//
// Threads: the object belongs to the user-interface thread, which reads through its own connection
// (search, context, export, the last lines at start). Lines to keep, clearing and removing old rows are
// queued and carried out by a writer thread of the store, at most every WriteInterval and in one
// transaction per batch, so the window never waits for the disk. A write that fails (full disk,
// read-only file, damage) stops the keeping of history for the rest of the run and raises
// writeFailed once; the chat itself goes on.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    static constexpr int WriteIntervalMs = 200;
    static constexpr int LinesShownAtStart = 200;

    enum class OpenResult {
        Opened,
        MovedAside,  // the file was damaged: it now carries a time stamp and a new one was started
        Unavailable, // no history this run (the folder or file cannot be written or read)
        Off,         // retention 0: nothing kept, the file removed
    };

    struct Options {
        QString path;
        int keepDays = HistoryRetention::DefaultDays;
        const Clock* clock = nullptr; // the system clock when null
        // A limit on the file's size in pages of 4 KiB (0: none), to make a full disk real in tests.
        int maxPages = 0;
    };

    explicit HistoryStore(Options options, QObject* parent = nullptr);
    ~HistoryStore() override; // writes what is still queued

    // Opens (creating) the file, moving a damaged one aside, and queues the removal of rows older than
    // the retention. `problem()` then says what the user must be told, if anything.
    OpenResult open();
    OpenResult openResult() const { return m_result; }
    QString problem() const { return m_problem; }
    QString movedTo() const { return m_movedTo; }
    bool isOpen() const { return m_result == OpenResult::Opened || m_result == OpenResult::MovedAside; }

    // Queues one shown line, stamped with the present time when it has none; ignored while history is off or writing
    // has failed.
    void keep(HistoryLine line);
    // Stops (0) or resumes keeping lines; rows older than the retention are removed at the next start.
    void setKeepDays(int days);
    // Queues removing every row, those still queued included.
    void clearAll();
    // Blocks until every queued change is on disk (tests, export, shut-down).
    void waitUntilWritten();

    // Newest `count` lines, oldest first.
    QList<HistoryLine> lastLines(int count) const;
    // Lines whose sender or text hold every word of `words` (each as the start of a word), case and
    // accents ignored, newest first, at most `limit`.
    QList<HistoryLine> search(const QString& words, int limit = 500) const;
    // Up to `around` lines before and after line `id`, with that line, in order.
    QList<HistoryLine> context(qint64 id, int around) const;
    // Lines shown from day `from` to day `to` included (local days), in order.
    QList<HistoryLine> between(QDate from, QDate to) const;

    // The text searched for in the full-text index: each word quoted, as a prefix, all required.
    static QString matchExpression(const QString& words);

signals:
    // Emitted once, from the writer thread, when history can no longer be written.
    void writeFailed(const QString& reason);

private:
    const Clock& clock() const;
    bool tryOpen(QString* error, QString* nativeCode);
    bool moveAside();
    void closeReader();
    void startWriter();
    void writerLoop();
    bool writeBatch(std::vector<HistoryLine>& lines, bool clear, std::optional<qint64> purgeBefore, QString* error);
    QList<HistoryLine> readLines(const QString& sql, const QVariantList& values) const;

    Options m_options;
    OpenResult m_result = OpenResult::Unavailable;
    QString m_problem;
    QString m_movedTo;
    QString m_readerName;
    QString m_writerName;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::vector<HistoryLine> m_queue;
    bool m_clearQueued = false;
    std::optional<qint64> m_purgeQueued;
    bool m_writing = false;
    bool m_stop = false;
    bool m_failed = false;
    bool m_keeping = false;
    std::thread m_writer;
};

} // namespace vestrel::chat
