#include "chat/HistoryStore.h"

#include "chat/ChatLog.h"
#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

// How much the writer thread gives way to the others (a nice value, 19 at most).
constexpr int WriterNiceness = 10;

// Beyond this many queued lines the writer does not wait for the rest of its interval.
constexpr size_t fullBatch = 2000;

// SQLite's primary result codes that say something about the file rather than about this moment.
constexpr int sqliteBusy = 5;
constexpr int sqliteLocked = 6;
constexpr int sqliteFull = 13;

std::atomic<int> connectionSerial{0};

QString connectionName(const char* role) {
    return u"vestrel-chat-history-%1-%2"_s.arg(QLatin1StringView(role)).arg(++connectionSerial);
}

const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS lines(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, sender TEXT NOT NULL,"
    " recipient TEXT NOT NULL, private INTEGER NOT NULL, outgoing INTEGER NOT NULL, body TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS lines_at ON lines(at)",
    "CREATE VIRTUAL TABLE IF NOT EXISTS lines_fts USING fts5(sender, body, content='lines', content_rowid='id',"
    " tokenize='unicode61 remove_diacritics 2')",
    "CREATE TRIGGER IF NOT EXISTS lines_ai AFTER INSERT ON lines BEGIN"
    " INSERT INTO lines_fts(rowid, sender, body) VALUES (new.id, new.sender, new.body); END",
};

constexpr char deleteTrigger[] =
    "CREATE TRIGGER IF NOT EXISTS lines_ad AFTER DELETE ON lines BEGIN"
    " INSERT INTO lines_fts(lines_fts, rowid, sender, body) VALUES ('delete', old.id, old.sender, old.body); END";

constexpr char columns[] = "id, at, sender, recipient, private, outgoing, body";

bool run(QSqlQuery& query, const QString& sql, QString* error, QString* code = nullptr) {
    if (query.exec(sql))
        return true;
    if (error)
        *error = query.lastError().text();
    if (code)
        *code = query.lastError().nativeErrorCode();
    return false;
}

// The settings every connection of the store needs: the log that lets readers and the writer work at
// once, waiting rather than failing while the other holds the file.
bool configure(QSqlDatabase& db, int maxPages, QString* error, QString* code = nullptr) {
    QSqlQuery query(db);
    for (const QString& pragma :
         QStringList{u"PRAGMA busy_timeout = 5000"_s, u"PRAGMA journal_mode = WAL"_s, u"PRAGMA synchronous = NORMAL"_s})
        if (!run(query, pragma, error, code))
            return false;
    return maxPages <= 0 || run(query, u"PRAGMA max_page_count = %1"_s.arg(maxPages), error, code);
}

HistoryLine lineFrom(const QSqlQuery& query) {
    HistoryLine line;
    line.id = query.value(0).toLongLong();
    line.when = QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong());
    line.sender = query.value(2).toString();
    line.recipient = query.value(3).toString();
    line.isPrivate = query.value(4).toBool();
    line.outgoing = query.value(5).toBool();
    line.body = query.value(6).toString();
    return line;
}

} // namespace

HistoryStore::HistoryStore(Options options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    if (m_options.path.isEmpty())
        m_options.path = historyFilePath();
}

HistoryStore::~HistoryStore() {
    if (m_writer.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_writer.join();
    }
    closeReader();
}

const Clock& HistoryStore::clock() const {
    static const SystemClock systemClock;
    return m_options.clock ? *m_options.clock : systemClock;
}

HistoryStore::OpenResult HistoryStore::open() {
    const QString& path = m_options.path;
    if (m_options.keepDays <= 0) {
        // Nothing is to be kept: what an earlier run kept goes too.
        for (const QString& file : QStringList{path, path + u"-wal"_s, path + u"-shm"_s})
            if (QFile::exists(file) && !QFile::remove(file))
                qCWarning(lcChat) << "history file not removed:" << file;
        m_result = OpenResult::Off;
        return m_result;
    }

    m_result = OpenResult::Unavailable;
    const QFileInfo file(path);
    if (!QDir().mkpath(file.absolutePath())) {
        m_problem = u"cartella %1 non scrivibile"_s.arg(file.absolutePath());
        qCWarning(lcChat) << "history folder cannot be made:" << file.absolutePath();
        return m_result;
    }
    if (!file.exists()) {
        QFile created(path);
        if (!created.open(QIODevice::WriteOnly)) {
            m_problem = u"%1: %2"_s.arg(path, created.errorString());
            qCWarning(lcChat) << "history file cannot be made:" << path << created.errorString();
            return m_result;
        }
    }
    // Private to its user, whatever the umask (the log files SQLite adds take the same mode).
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

    QString error;
    QString code;
    if (!tryOpen(&error, &code)) {
        const int primary = code.toInt() & 0xff; // the extended code carries the primary one in its low byte
        const bool passing = primary == sqliteBusy || primary == sqliteLocked || primary == sqliteFull;
        if (passing || !moveAside()) {
            m_problem = error;
            qCWarning(lcChat) << "history not opened:" << error;
            return m_result;
        }
        if (!tryOpen(&error, &code)) {
            m_problem = error;
            qCWarning(lcChat) << "new history not opened:" << error;
            return m_result;
        }
        m_result = OpenResult::MovedAside;
        m_problem = error;
    } else {
        m_result = OpenResult::Opened;
    }

    m_keeping = true;
    m_purgeQueued = clock().now().addDays(-m_options.keepDays).toMSecsSinceEpoch();
    startWriter();
    return m_result;
}

bool HistoryStore::tryOpen(QString* error, QString* nativeCode) {
    closeReader();
    m_readerName = connectionName("reader");
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_readerName);
    db.setDatabaseName(m_options.path);
    if (!db.open()) {
        *error = db.lastError().text();
        *nativeCode = db.lastError().nativeErrorCode();
        db = QSqlDatabase();
        closeReader();
        return false;
    }
    QSqlQuery query(db);
    bool ok = configure(db, 0, error, nativeCode);
    for (const char* statement : schema)
        ok = ok && run(query, QString::fromLatin1(statement), error, nativeCode);
    ok = ok && run(query, QString::fromLatin1(deleteTrigger), error, nativeCode);
    // Reading the newest rows and the index touches the pages a damaged file most often breaks.
    ok = ok && run(query, u"SELECT id, body FROM lines ORDER BY id DESC LIMIT 200"_s, error, nativeCode);
    ok = ok && run(query, u"SELECT rowid FROM lines_fts WHERE lines_fts MATCH 'a*' LIMIT 1"_s, error, nativeCode);
    if (!ok) {
        query = QSqlQuery();
        db = QSqlDatabase();
        closeReader();
    }
    return ok;
}

bool HistoryStore::moveAside() {
    closeReader();
    const QString stamp = clock().now().toString(u"yyyyMMdd-HHmmss"_s);
    const QString& path = m_options.path;
    m_movedTo = path + u".danneggiato-"_s + stamp;
    if (!QFile::rename(path, m_movedTo)) {
        qCWarning(lcChat) << "damaged history not moved aside:" << path;
        m_movedTo.clear();
        return false;
    }
    // Its logs belong to the damaged file: they go with it, never into the new one.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString log = path + QLatin1StringView(suffix);
        if (QFile::exists(log) && !QFile::rename(log, m_movedTo + QLatin1StringView(suffix)))
            QFile::remove(log);
    }
    QFile created(path);
    if (!created.open(QIODevice::WriteOnly))
        return false;
    created.close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    qCWarning(lcChat) << "damaged history moved to" << m_movedTo;
    return true;
}

void HistoryStore::closeReader() {
    if (m_readerName.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_readerName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_readerName);
    m_readerName.clear();
}

void HistoryStore::keep(HistoryLine line) {
    if (!line.when.isValid())
        line.when = clock().now();
    {
        std::lock_guard lock(m_mutex);
        if (!m_keeping || m_failed)
            return;
        m_queue.push_back(std::move(line));
        if (m_queue.size() < fullBatch)
            return; // the writer is already counting down its interval
    }
    m_wake.notify_all();
}

void HistoryStore::setKeepDays(int days) {
    std::lock_guard lock(m_mutex);
    m_options.keepDays = days;
    m_keeping = days > 0 && m_writer.joinable();
}

void HistoryStore::clearAll() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_writer.joinable())
            return;
        m_queue.clear();
        m_clearQueued = true;
    }
    m_wake.notify_all();
}

void HistoryStore::waitUntilWritten() {
    std::unique_lock lock(m_mutex);
    if (!m_writer.joinable())
        return;
    m_wake.notify_all();
    m_written.wait(lock,
                   [this] { return m_stop || (!m_writing && m_queue.empty() && !m_clearQueued && !m_purgeQueued); });
}

void HistoryStore::startWriter() {
    m_writerName = connectionName("writer");
    m_writer = std::thread([this] { writerLoop(); });
}

void HistoryStore::writerLoop() {
#ifdef __linux__
    // The chat comes first: on a busy machine the history waits for the receiving and window threads.
    if (::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), WriterNiceness) != 0)
        qCInfo(lcChat) << "history writer keeps its priority:" << std::strerror(errno);
#endif
    QString error;
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_writerName);
        db.setDatabaseName(m_options.path);
        if (!db.open()) {
            error = db.lastError().text();
            ok = false;
        } else {
            ok = configure(db, m_options.maxPages, &error);
        }
    }

    std::unique_lock lock(m_mutex);
    const auto hasWork = [this] {
        return !m_queue.empty() || m_clearQueued || m_purgeQueued;
    };
    while (ok) {
        m_wake.wait(lock, [&] { return m_stop || hasWork(); });
        if (!hasWork())
            break; // stopping, nothing left to write
        // Lines come in bursts: gather them for one interval and write them in one transaction.
        if (!m_stop && m_queue.size() < fullBatch)
            m_wake.wait_for(lock, std::chrono::milliseconds(WriteIntervalMs),
                            [this] { return m_stop || m_queue.size() >= fullBatch; });
        std::vector<HistoryLine> lines;
        lines.swap(m_queue);
        const bool clear = std::exchange(m_clearQueued, false);
        const std::optional<qint64> purge = std::exchange(m_purgeQueued, std::nullopt);
        m_writing = true;
        lock.unlock();
        ok = writeBatch(lines, clear, purge, &error);
        lock.lock();
        if (!ok)
            break; // still "writing" for waiters until the failure has been told
        m_writing = false;
        m_written.notify_all();
    }
    if (!ok) {
        m_failed = true;
        m_keeping = false;
        m_queue.clear();
        m_clearQueued = false;
        m_purgeQueued.reset();
    }
    lock.unlock();
    QSqlDatabase::database(m_writerName, false).close();
    QSqlDatabase::removeDatabase(m_writerName);
    if (!ok) {
        qCWarning(lcChat) << "history no longer written:" << error;
        emit writeFailed(error);
    }
    std::lock_guard last(m_mutex);
    m_writing = false;
    m_stop = true;
    m_written.notify_all();
}

bool HistoryStore::writeBatch(std::vector<HistoryLine>& lines, bool clear, std::optional<qint64> purgeBefore,
                              QString* error) {
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    bool ok = true;
    if (clear) {
        // Emptying the index at once is far quicker than deleting it row by row through the trigger.
        ok = run(query, u"DROP TRIGGER IF EXISTS lines_ad"_s, error) && run(query, u"DELETE FROM lines"_s, error) &&
             run(query, u"INSERT INTO lines_fts(lines_fts) VALUES ('delete-all')"_s, error) &&
             run(query, QString::fromLatin1(deleteTrigger), error);
    }
    if (ok && purgeBefore) {
        ok = query.prepare(u"DELETE FROM lines WHERE at < ?"_s);
        query.addBindValue(*purgeBefore);
        ok = ok && query.exec();
        if (!ok)
            *error = query.lastError().text();
    }
    if (ok && !lines.empty()) {
        ok = query.prepare(
            u"INSERT INTO lines(at, sender, recipient, private, outgoing, body) VALUES (?, coalesce(?, ''), coalesce(?, ''), ?, ?, coalesce(?, ''))"_s);
        for (auto line = lines.begin(); ok && line != lines.end(); ++line) {
            query.addBindValue(line->when.toMSecsSinceEpoch());
            query.addBindValue(line->sender);
            query.addBindValue(line->recipient);
            query.addBindValue(int(line->isPrivate));
            query.addBindValue(int(line->outgoing));
            query.addBindValue(line->body);
            ok = query.exec();
        }
        if (!ok)
            *error = query.lastError().text();
    }
    query = QSqlQuery();
    if (ok && !db.commit()) {
        *error = db.lastError().text();
        ok = false;
    }
    if (!ok) {
        db.rollback();
        return false;
    }
    if (clear) {
        // What was cleared must not linger in the file's free pages.
        QSqlQuery vacuum(db);
        if (!vacuum.exec(u"VACUUM"_s))
            qCInfo(lcChat) << "history not compacted after clearing:" << vacuum.lastError().text();
    }
    return true;
}

QList<HistoryLine> HistoryStore::readLines(const QString& sql, const QVariantList& values) const {
    QList<HistoryLine> lines;
    if (m_readerName.isEmpty())
        return lines;
    QSqlQuery query(QSqlDatabase::database(m_readerName, false));
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    ok = ok && query.exec();
    if (!ok) {
        qCWarning(lcChat) << "history not read:" << query.lastError().text();
        return lines;
    }
    while (query.next())
        lines.append(lineFrom(query));
    return lines;
}

QList<HistoryLine> HistoryStore::lastLines(int count) const {
    QList<HistoryLine> lines =
        readLines(u"SELECT %1 FROM lines ORDER BY id DESC LIMIT ?"_s.arg(QLatin1StringView(columns)), {count});
    std::reverse(lines.begin(), lines.end());
    return lines;
}

QString HistoryStore::matchExpression(const QString& words) {
    static const QRegularExpression blanks(u"\\s+"_s);
    static const QRegularExpression wordCharacter(u"[\\p{L}\\p{N}]"_s);
    QStringList terms;
    for (QString word : words.split(blanks, Qt::SkipEmptyParts)) {
        if (!word.contains(wordCharacter))
            continue; // punctuation alone is no word to look for
        terms.append(u'"' + word.replace(u'"', u"\"\""_s) + u"\"*"_s);
    }
    return terms.join(u' ');
}

QList<HistoryLine> HistoryStore::search(const QString& words, int limit) const {
    const QString match = matchExpression(words);
    if (match.isEmpty())
        return {};
    return readLines(u"SELECT %1 FROM lines WHERE id IN (SELECT rowid FROM lines_fts WHERE lines_fts MATCH ?"
                     " ORDER BY rowid DESC LIMIT ?) ORDER BY id DESC"_s.arg(QLatin1StringView(columns)),
                     {match, limit});
}

QList<HistoryLine> HistoryStore::context(qint64 id, int around) const {
    QList<HistoryLine> lines = readLines(
        u"SELECT %1 FROM lines WHERE id < ? ORDER BY id DESC LIMIT ?"_s.arg(QLatin1StringView(columns)), {id, around});
    std::reverse(lines.begin(), lines.end());
    lines += readLines(u"SELECT %1 FROM lines WHERE id >= ? ORDER BY id LIMIT ?"_s.arg(QLatin1StringView(columns)),
                       {id, around + 1});
    return lines;
}

QList<HistoryLine> HistoryStore::between(QDate from, QDate to) const {
    return readLines(u"SELECT %1 FROM lines WHERE at >= ? AND at < ? ORDER BY id"_s.arg(QLatin1StringView(columns)),
                     {from.startOfDay().toMSecsSinceEpoch(), to.addDays(1).startOfDay().toMSecsSinceEpoch()});
}

} // namespace vestrel::chat
