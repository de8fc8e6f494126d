// Records received and dispatched per second by a chat client whose window is hidden in the tray and
// whose conversation pane already holds 10 000 lines: a feeder on loopback sends MESSAGE records as fast
// as the client takes them; each one goes through the receiving thread, the hand-over to the window's
// thread, the dispatch into the conversation pane and the new-line notification (whose popups stop
// once the screen is full).
#include "chat/ChatRecord.h"
#include "chat/ui/ChatShell.h"
#include "chat/ui/ClientFrmMain.h"
#include "chat/ui/NotifySound.h"
#include "components/ui/MessageBoxes.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayShell.h"

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
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
    QTemporaryDir dir;
    qputenv("VESTREL_PROGRAM_DIR", dir.path().toLocal8Bit());
    qputenv("VESTREL_REGISTRY_DIR", dir.path().toLocal8Bit());

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
    window.Disconnect(config.Nick);
}
BENCHMARK(BM_ClientDispatch)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

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
