// Records relayed per second by the chat relay server: 10 clients on loopback, each broadcasting,
// each reading everything the server sends it, in clear text and over TLS. Counted are the records
// delivered to clients. Each client sends and reads on one thread (a TLS connection allows no more).
#include "TlsLoopback.h"
#include "chat/ChatRecord.h"
#include "tools/chatserver/CertificateMaker.h"
#include "tools/chatserver/RelayServer.h"
#include "tools/chatserver/ServerTls.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vestrel;
using namespace vestrel::chat;
using namespace vestrel::chatserver;
using vestrel::bench::Link;

namespace {

constexpr int Clients = 10;

// The server with its own event loop, as the real program runs it.
class ServerThread : public QThread {
public:
    explicit ServerThread(bool tls) {
        if (!tls)
            return;
        QString error;
        if (makeCertificate(m_dir.path(), {QStringLiteral("127.0.0.1")}, &error).isEmpty() ||
            !(m_tls = loadServerTls(m_dir.filePath(QStringLiteral("chatserver.crt")),
                                    m_dir.filePath(QStringLiteral("chatserver.key")), &error))) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::abort();
        }
    }
    quint16 start() {
        QThread::start();
        return m_port.get_future().get();
    }

protected:
    void run() override {
        RelayServer server;
        server.setLog([](const QString&) {});
        if (m_tls)
            server.setTls(*m_tls);
        server.listen(QHostAddress::LocalHost, 0);
        m_port.set_value(server.serverPort());
        exec();
    }

private:
    QTemporaryDir m_dir;
    std::optional<QSslConfiguration> m_tls;
    std::promise<quint16> m_port;
};

void receive(const Link& link, size_t bytes) {
    std::vector<char> buffer(256 * 1024);
    while (bytes > 0) {
        const ssize_t got = bench::receiveSome(link, buffer.data(), std::min(buffer.size(), bytes));
        if (got <= 0)
            std::abort();
        bytes -= size_t(got);
    }
}

void BM_RelayBroadcast(benchmark::State& state) {
    const int perClient = int(state.range(0));
    const bool tls = state.range(1) != 0;
    ServerThread server(tls);
    const quint16 port = server.start();

    std::vector<Link> sockets;
    for (int i = 0; i < Clients; ++i) {
        sockets.push_back(bench::connectLink(port, tls));
        const QByteArray machine = "pc" + QByteArray::number(i);
        const TChatRecord login = makeChatRecord(ChatCommand::Login, {"nick" + QByteArray::number(i), "h", machine});
        bench::sendAll(sockets.back(), login.data(), TChatRecord::Size);
        // One login at a time, so that each gets a list of its own: client i then receives the lists
        // of logins i .. Clients-1.
        receive(sockets.back(), TChatRecord::Size);
    }
    for (int i = 0; i < Clients; ++i)
        receive(sockets[i], size_t(Clients - i - 1) * TChatRecord::Size);

    QByteArray burst;
    const TChatRecord message = makeChatRecord(ChatCommand::Message, {"nick", "h", "pc"}, "messaggio di prova");
    for (int i = 0; i < perClient; ++i)
        burst += message.toByteArray();
    const size_t expectedPerClient = size_t(perClient) * Clients * TChatRecord::Size;

    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (const Link& link : sockets) {
            threads.emplace_back([link, &burst, expectedPerClient] {
                bench::exchange(link, burst.constData(), size_t(burst.size()), expectedPerClient);
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    state.SetItemsProcessed(state.iterations() * perClient * Clients * Clients);
    state.counters["records_in"] =
        benchmark::Counter(double(state.iterations()) * perClient * Clients, benchmark::Counter::kIsRate);
    for (Link& link : sockets)
        bench::closeLink(link);
    server.quit();
    server.wait();
}
BENCHMARK(BM_RelayBroadcast)
    ->ArgNames({"per_client", "tls"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
