// The relay server program under load, measured from outside as an office would meet it: records
// delivered per second, the server's peak memory (VmHWM), and whether any client was cut off.
//   flood:     one client broadcasting as fast as it can, five clients reading (and the flooder
//              reading its own echo)
//   broadcast: 1000 clients logged in, each broadcasting once; in clear text and over TLS (the TLS
//              clients send between their reads on the reading thread, since a TLS connection serves
//              one thread at a time)
// Run by hand: build/bin/bench_chatserver_load (the chatserver program must sit beside it).
#include "TlsLoopback.h"
#include "chat/ChatRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vestrel;
using namespace vestrel::chat;
using vestrel::bench::connectTo;
using vestrel::bench::Link;
using vestrel::bench::sendAll;

namespace {

class ServerProcess {
public:
    explicit ServerProcess(bool tls = false) {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/chatserver");
        QStringList arguments{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--max-per-address"),
                              QStringLiteral("5000")};
        if (tls) {
            QProcess make;
            make.start(program, {QStringLiteral("--make-cert"), m_certDir.path(), QStringLiteral("--cert-host"),
                                 QStringLiteral("127.0.0.1")});
            if (!make.waitForFinished() || make.exitCode() != 0)
                std::abort();
            arguments << QStringLiteral("--tls-cert") << m_certDir.filePath(QStringLiteral("chatserver.crt"))
                      << QStringLiteral("--tls-key") << m_certDir.filePath(QStringLiteral("chatserver.key"));
        }
        // Its log goes to a file: a pipe nobody reads while the clients connect would stall the server.
        m_log.setFileName(QStringLiteral("%1/bench_chatserver_load.%2.log")
                              .arg(QDir::tempPath())
                              .arg(QCoreApplication::applicationPid()));
        m_process.setStandardErrorFile(m_log.fileName());
        m_process.start(program, arguments);
        if (!m_process.waitForStarted() || !m_log.open(QIODevice::ReadOnly))
            std::abort();
        QByteArray output;
        for (int tries = 0; !output.contains('\n') && tries < 500; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            output += m_log.readAll();
        }
        const QByteArray line = output.left(output.indexOf('\n'));
        m_port = quint16(line.mid(line.lastIndexOf(':') + 1).split(' ').first().toUInt());
    }
    ~ServerProcess() {
        m_process.kill();
        m_process.waitForFinished();
        m_log.remove();
    }
    quint16 port() const { return m_port; }
    double peakMiB() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
        return -1;
    }
    int cutOff() {
        m_log.seek(0);
        return int(m_log.readAll().count("cut off"));
    }

private:
    QTemporaryDir m_certDir;
    QFile m_log;
    QProcess m_process;
    quint16 m_port = 0;
};

void login(const Link& link, int index) {
    const QByteArray n = QByteArray::number(index);
    const TChatRecord record = makeChatRecord(ChatCommand::Login, {"utente" + n, "h", "pc" + n});
    bench::sendAll(link, record.data(), TChatRecord::Size);
}

void login(int fd, int index) {
    login(Link{fd, nullptr}, index);
}

// Reads whole records from each socket until the client lists it received name `entry`: from then
// on its client is logged in and gets every broadcast. Before that a broadcast may pass it by.
void waitUntilListed(const std::vector<Link>& sockets, const QByteArray& entry) {
    for (const Link& link : sockets) {
        QByteArray received;
        char buffer[4096];
        while (!received.contains(entry) || received.size() % TChatRecord::Size != 0) {
            const qsizetype missing = TChatRecord::Size - received.size() % TChatRecord::Size;
            const ssize_t got = bench::receiveSome(link, buffer, size_t(std::min<qsizetype>(missing, sizeof buffer)));
            if (got <= 0)
                std::abort();
            received.append(buffer, got);
        }
    }
}

// Reads records from every socket until each has received `wanted` messages (lists are not counted)
// or its connection ends. Returns the connections that ended early. While `sendSome` returns true it
// is called between the rounds of reading, to send on the same thread.
int readMessages(const std::vector<Link>& sockets, long wanted, const std::function<bool()>& sendSome = {}) {
    struct Reader {
        QByteArray partial;
        long messages = 0;
        bool done = false;
    };
    std::vector<Reader> readers(sockets.size());
    std::vector<pollfd> polls;
    for (const Link& link : sockets)
        polls.push_back({link.fd, POLLIN, 0});
    size_t remaining = sockets.size();
    int ended = 0;
    std::vector<char> buffer(256 * 1024);
    bool sending = bool(sendSome);
    while (remaining > 0) {
        if (sending)
            sending = sendSome();
        const int ready = ::poll(polls.data(), polls.size(), sending ? 0 : 60000);
        if (ready < 0 || (ready == 0 && !sending))
            break;
        for (size_t i = 0; i < polls.size(); ++i) {
            if (readers[i].done || !(polls[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = bench::receiveSome(sockets[i], buffer.data(), buffer.size());
            Reader& reader = readers[i];
            if (got <= 0) {
                reader.done = true;
                polls[i].fd = -1;
                --remaining;
                ++ended;
                continue;
            }
            reader.partial.append(buffer.data(), got);
            qsizetype offset = 0;
            for (; reader.partial.size() - offset >= TChatRecord::Size; offset += TChatRecord::Size) {
                if (TChatRecord::commandIs(reader.partial.constData() + offset, ChatCommand::Message))
                    ++reader.messages;
            }
            reader.partial.remove(0, offset);
            if (reader.messages >= wanted) {
                reader.done = true;
                polls[i].fd = -1;
                --remaining;
            }
        }
    }
    return ended + int(remaining);
}

std::vector<Link> links(const std::vector<int>& sockets) {
    std::vector<Link> result;
    for (int fd : sockets)
        result.push_back({fd, nullptr});
    return result;
}

void report(benchmark::State& state, ServerProcess& server, double deliveries) {
    state.counters["deliveries_per_s"] = benchmark::Counter(deliveries, benchmark::Counter::kIsRate);
    state.counters["server_peak_MiB"] = server.peakMiB();
    state.counters["cut_off"] = server.cutOff();
}

void BM_FloodFiveReaders(benchmark::State& state) {
    const long records = state.range(0);
    ServerProcess server;
    std::vector<int> sockets;
    for (int i = 0; i < 6; ++i) {
        sockets.push_back(connectTo(server.port()));
        login(sockets.back(), i);
    }
    waitUntilListed(links(sockets), "utente5=pc5\r\n");
    const QByteArray flood =
        makeChatRecord(ChatCommand::Message, {"utente0", "h", "pc0"}, "inondazione").toByteArray().repeated(1000);
    int ended = 0;
    for (auto _ : state) {
        std::thread flooder([&] {
            for (long sent = 0; sent < records; sent += 1000)
                sendAll(sockets[0], flood.constData(), size_t(flood.size()));
        });
        ended += readMessages(links(sockets), records); // the flooder reads its own echo too
        flooder.join();
    }
    report(state, server, double(state.iterations()) * double(records) * 6);
    state.counters["readers_short"] = ended;
    for (int fd : sockets)
        ::close(fd);
}
BENCHMARK(BM_FloodFiveReaders)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ThousandClientsBroadcastOnce(benchmark::State& state) {
    const int clients = int(state.range(0));
    const bool tls = state.range(1) != 0;
    ServerProcess server(tls);
    std::vector<Link> sockets;
    for (int i = 0; i < clients; ++i) {
        sockets.push_back(bench::connectLink(server.port(), tls));
        login(sockets.back(), i);
    }
    // Every list has reached every client once its last login is known everywhere: wait for a
    // quiet second instead of parsing the lists.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    int ended = 0;
    for (auto _ : state) {
        const auto send = [&] {
            for (int i = 0; i < clients; ++i) {
                const QByteArray n = QByteArray::number(i);
                const TChatRecord record = makeChatRecord(ChatCommand::Message, {"utente" + n, "h", "pc" + n}, "ciao");
                bench::sendAll(sockets[size_t(i)], record.data(), TChatRecord::Size);
            }
        };
        if (tls) {
            int next = 0;
            ended += readMessages(sockets, clients, [&] {
                for (const int end = std::min(next + 10, clients); next < end; ++next) {
                    const QByteArray n = QByteArray::number(next);
                    const TChatRecord record =
                        makeChatRecord(ChatCommand::Message, {"utente" + n, "h", "pc" + n}, "ciao");
                    bench::sendAll(sockets[size_t(next)], record.data(), TChatRecord::Size);
                }
                return next < clients;
            });
        } else {
            std::thread senders(send);
            ended += readMessages(sockets, clients);
            senders.join();
        }
    }
    report(state, server, double(state.iterations()) * clients * clients);
    state.counters["readers_short"] = ended;
    for (Link& link : sockets)
        bench::closeLink(link);
}
BENCHMARK(BM_ThousandClientsBroadcastOnce)
    ->ArgNames({"clients", "tls"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max; // a thousand sockets here, a thousand in the server
    ::setrlimit(RLIMIT_NOFILE, &limit);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
