// Records received and dispatched per second by a chat client whose window is hidden in the tray and
// whose conversation pane already holds 10 000 lines: a feeder on loopback sends MESSAGE records as fast
// as the client takes them; each one goes through the receiving thread, the hand-over to the window's
// thread, the dispatch into the conversation pane and the new-line notification (whose popups stop
// once the screen is full). It runs with the history off and on: keeping the lines must cost the
// window little. The history's search runs over a million stored lines.
#include "chat/ChatRecord.h"
#include "chat/HistoryStore.h"
#include "chat/ui/ChatShell.h"
#include "chat/ui/ClientFrmMain.h"
#include "chat/ui/NotifySound.h"
#include "components/ui/MessageBoxes.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayShell.h"

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vestrel;
using namespace vestrel::chat;

namespace {

class SilentBoxes : public MessageBoxes {
public:
    void information(const QString&) override {}
    void warning(const QString&) override {}
    void error(const QString&) override {}
    bool question(const QString&) override { return false; }
};

class SilentSound : public NotifySound {
public:
    void play(const QString&) override {}
};

// A notification area that takes every icon, so the window can hide in it.
class BenchTray : public TrayShell {
public:
    bool isAvailable() const override { return true; }
    bool add(const TrayNotifyData&) override { return true; }
    bool modify(const TrayNotifyData&) override { return true; }
    bool remove(quintptr) override { return true; }
    bool setVersion(quintptr, int) override { return true; }
    bool cursorPos(QPoint& pos) const override {
        pos = {};
        return true;
    }
    Qt::KeyboardModifiers keyboardModifiers() const override { return {}; }
    int doubleClickTime() const override { return 400; }
    void popupMenu(QMenu*, const QPoint&) override {}
};

constexpr int paneLines = 10000;

// Accepts one client and sends it a burst of records each time `go` is raised.
class Feeder {
public:
    Feeder() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Feeder() {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_client);
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }
    void acceptClient() { m_client = ::accept(m_listener, nullptr, nullptr); }
    // `burst` must outlive the send: it is read in place, not copied.
    void sendBurst(const QByteArray& burst) {
        if (m_thread.joinable())
            m_thread.join();
        m_thread = std::thread([this, &burst] {
            const char* data = burst.constData();
            size_t left = size_t(burst.size());
            while (left > 0) {
                const ssize_t sent = ::send(m_client, data, left, MSG_NOSIGNAL);
                if (sent <= 0)
                    return;
                data += sent;
                left -= size_t(sent);
            }
        });
    }

private:
    int m_listener = -1;
    int m_client = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

void BM_ClientDispatch(benchmark::State& state) {
    const int records = int(state.range(0));
    const bool history = state.range(1) != 0;
    QTemporaryDir dir;
    qputenv("VESTREL_PROGRAM_DIR", dir.path().toLocal8Bit());
    qputenv("VESTREL_REGISTRY_DIR", dir.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
    HistoryRetention::save(history ? HistoryRetention::DefaultDays : 0);

    Feeder feeder;
    TUserConfig config;
    config.Nick = "bench";
    config.Host = "h";
    config.Server = "127.0.0.1";
    config.Porta = QByteArray::number(feeder.port());
    config.Notifica = "0";
    config.Mostra = "0";           // the benchmark connects once the pane is filled
    UserConfigStore::save(config); // the start-up reads the settings from their stores
    SilentBoxes boxes;
    SilentSound sound;
    BenchTray tray;
    ChatShell::Seams seams;
    seams.tray = &tray;
    seams.sound = &sound;
    ChatShell shell(config, boxes, seams);
    TClientFrmMain& window = shell.window();
    shell.start({QStringLiteral("chatclient"), QStringLiteral("--tray")}); // hidden in the tray
    QCoreApplication::processEvents();                                     // the queued start-up steps
    QString earlier;
    for (int i = 0; i < paneLines; ++i)
        earlier += QStringLiteral("altro: riga precedente numero %1\n").arg(i);
    std::thread accepter([&feeder] { feeder.acceptClient(); });
    window.Connect();
    accepter.join();

    int dispatched = 0;
    QEventLoop loop;
    QObject::connect(&window, &TClientFrmMain::recordDispatched, &loop, [&] {
        if (++dispatched == records)
            loop.quit();
    });

    QByteArray burst;
    const TChatRecord message = makeChatRecord(ChatCommand::Message, {"altro", "h", "pc"}, "messaggio di prova");
    for (int i = 0; i < records; ++i)
        burst += message.toByteArray();

    window.IncomingMessages->setPlainText(earlier);
    for (auto _ : state) {
        dispatched = 0;
        feeder.sendBurst(burst);
        loop.exec();
        state.PauseTiming();
        window.IncomingMessages->setPlainText(earlier);
        shell.slidePopUp().ClosePopUps();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.SetLabel(history ? "history on" : "history off");
    window.Disconnect(config.Nick);
}
BENCHMARK(BM_ClientDispatch)
    ->ArgNames({"records", "history"})
    ->Args({20000, 0})
    ->Args({20000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The window's share of the work: the lines alone, added to the hidden window's pane of 10 000 lines,
// with the new-line notification listening.
void BM_PaneAppend(benchmark::State& state) {
    const int lines = int(state.range(0));
    QTemporaryDir dir;
    qputenv("VESTREL_PROGRAM_DIR", dir.path().toLocal8Bit());
    qputenv("VESTREL_REGISTRY_DIR", dir.path().toLocal8Bit());
    TUserConfig config;
    config.Mostra = "0";
    UserConfigStore::save(config);
    SilentBoxes boxes;
    SilentSound sound;
    BenchTray tray;
    ChatShell::Seams seams;
    seams.tray = &tray;
    seams.sound = &sound;
    ChatShell shell(config, boxes, seams);
    shell.start({QStringLiteral("chatclient"), QStringLiteral("--tray")});
    QCoreApplication::processEvents(); // the queued start-up steps
    QString earlier;
    for (int i = 0; i < paneLines; ++i)
        earlier += QStringLiteral("altro: riga precedente numero %1\n").arg(i);
    QPlainTextEdit* pane = shell.window().IncomingMessages;
    for (auto _ : state) {
        state.PauseTiming();
        pane->setPlainText(earlier);
        shell.slidePopUp().ClosePopUps();
        state.ResumeTiming();
        for (int i = 0; i < lines; ++i)
            pane->appendPlainText(QStringLiteral("altro: messaggio di prova"));
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_PaneAppend)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A history of a million lines, made once for the search benchmarks: a day's worth of office talk
// repeated, with the supplier's number said once in every 10 000 lines.
constexpr int storedLines = 1000000;

HistoryStore& millionLineHistory() {
    static QTemporaryDir dir;
    static HistoryStore* store = [] {
        HistoryStore::Options options;
        options.path = dir.filePath(QStringLiteral("chat-history.sqlite"));
        auto* made = new HistoryStore(options);
        made->open();
        made->waitUntilWritten();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
            db.setDatabaseName(options.path);
            db.open();
            QSqlQuery fill(db);
            const bool ok = fill.exec(
                QStringLiteral(
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                    " INSERT INTO lines(at, sender, recipient, private, outgoing, body)"
                    " SELECT 1700000000000 + i * 60000,"
                    "  CASE i % 5 WHEN 0 THEN 'anna' WHEN 1 THEN 'bob' WHEN 2 THEN 'carlo' WHEN 3 THEN 'dora' ELSE "
                    "'ezio' END,"
                    "  '', 0, 0,"
                    "  'messaggio ' || i || CASE i % 6 WHEN 0 THEN ' la fattura di marzo' WHEN 1 THEN ' pranzo alle "
                    "tredici'"
                    "   WHEN 2 THEN ' chiamo il cliente' WHEN 3 THEN ' riunione spostata' WHEN 4 THEN ' ordine spedito'"
                    "   ELSE ' ok grazie' END"
                    "  || CASE WHEN i % 10000 = 0 THEN ' il numero del Fornitore di Citt\u00E0 \u00E8 0444 123456' "
                    "ELSE '' END"
                    " FROM n")
                    .arg(storedLines));
            if (!ok)
                qFatal("history not filled: %s", qPrintable(fill.lastError().text()));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
        return made;
    }();
    return *store;
}

void BM_HistorySearch(benchmark::State& state, const QString& words, int expected) {
    HistoryStore& store = millionLineHistory();
    qsizetype found = 0;
    for (auto _ : state) {
        found = store.search(words).size();
        benchmark::DoNotOptimize(found);
    }
    if (found != expected)
        state.SkipWithError("unexpected number of lines found");
    state.counters["found"] = double(found);
}
// A word said rarely, typed without its accent and in another case: 100 lines.
BENCHMARK_CAPTURE(BM_HistorySearch, rare_word, QStringLiteral("CITTA"), 100)->Unit(benchmark::kMillisecond);
// Two words, the second the start of a word.
BENCHMARK_CAPTURE(BM_HistorySearch, two_words_prefix, QStringLiteral("numero forn"), 100)
    ->Unit(benchmark::kMillisecond);
// A word in every sixth line: the newest 500 of 166 666.
BENCHMARK_CAPTURE(BM_HistorySearch, common_word, QStringLiteral("fattura"), 500)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
