#pragma once

// Helpers shared by the chat client tests: a message-box double, a fake chat server that records
// what clients send, the real relay server as a child process, and chat peers (window + settings).

#include "chat/ChatRecord.h"
#include "chat/UserConfig.h"
#include "chat/ui/ClientFrmMain.h"
#include "components/ui/MessageBoxes.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <sys/resource.h>

namespace vestrel::chat::test {

// Points the program folder, the registry store and the history's data folder into `dir`, so that a
// test reads and writes nothing of the real user's.
inline void useChatTestFolders(const QTemporaryDir& dir) {
    qputenv("VESTREL_PROGRAM_DIR", dir.filePath(QStringLiteral("prog")).toLocal8Bit());
    qputenv("VESTREL_REGISTRY_DIR", dir.filePath(QStringLiteral("reg")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    QDir(dir.path()).mkpath(QStringLiteral("prog"));
    QDir(dir.path()).mkpath(QStringLiteral("reg"));
}

// Moves the whole records at the front of `bytes` into `records`; a partial record stays in `bytes`.
inline void takeWholeRecords(QByteArray& bytes, QList<TChatRecord>& records) {
    qsizetype offset = 0;
    for (; bytes.size() - offset >= TChatRecord::Size; offset += TChatRecord::Size)
        records.append(TChatRecord::fromBytes(bytes.constData() + offset));
    bytes.remove(0, offset);
}

// Records every message box and answers questions with `answer`. With `holdNotices`, boxes shown
// without waiting stay open until the test closes them with closeNotice().
class RecordingBoxes : public MessageBoxes {
public:
    struct Shown {
        QString kind;
        QString text;
    };
    QList<Shown> shown;
    bool answer = false;
    bool holdNotices = false;
    QList<std::function<void(bool)>> openNotices;

    void notify(NoticeKind kind, const QString& text, std::function<void(bool yes)> closed) override {
        if (!holdNotices) {
            MessageBoxes::notify(kind, text, std::move(closed));
            return;
        }
        shown.append({kind == NoticeKind::Question ? QStringLiteral("question")
                      : kind == NoticeKind::Error  ? QStringLiteral("error")
                                                   : QStringLiteral("information"),
                      text});
        openNotices.append(std::move(closed));
    }
    void closeNotice(bool yes = true) { openNotices.takeFirst()(yes); }

    void information(const QString& text) override { shown.append({QStringLiteral("information"), text}); }
    void warning(const QString& text) override { shown.append({QStringLiteral("warning"), text}); }
    void error(const QString& text) override { shown.append({QStringLiteral("error"), text}); }
    bool question(const QString& text) override {
        shown.append({QStringLiteral("question"), text});
        return answer;
    }
    QStringList texts(const QString& kind) const {
        QStringList result;
        for (const Shown& s : shown) {
            if (s.kind == kind)
                result.append(s.text);
        }
        return result;
    }
};

// A chat server under the test's control: it records the whole records each connection sends and
// sends whatever bytes the test wants.
class FakeChatServer : public QObject {
public:
    FakeChatServer() {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                const int index = int(m_sockets.size());
                m_sockets.append(socket);
                m_received.append(QList<TChatRecord>());
                m_partial.append(QByteArray());
                if (!m_greeting.isEmpty())
                    socket->write(m_greeting);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
                    m_partial[index] += socket->readAll();
                    takeWholeRecords(m_partial[index], m_received[index]);
                });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    // Bytes sent to every new connection as soon as it is accepted.
    void setGreeting(const QByteArray& bytes) { m_greeting = bytes; }
    int connections() const { return int(m_sockets.size()); }
    // What a connection sent so far; nothing for a connection not yet made.
    QList<TChatRecord> received(int connection) const { return m_received.value(connection); }
    QByteArrayList commands(int connection) const {
        QByteArrayList result;
        for (const TChatRecord& r : received(connection))
            result.append(r.field(TChatRecord::Command));
        return result;
    }
    void send(int connection, const QByteArray& bytes) {
        m_sockets[connection]->write(bytes);
        m_sockets[connection]->flush();
    }
    void sendList(int connection, const QByteArray& list) {
        send(connection, makeChatRecord(ChatCommand::Login, {"server", "", ""}, list).toByteArray());
    }
    void close(int connection) { m_sockets[connection]->disconnectFromHost(); }

private:
    QTcpServer m_server;
    QList<QTcpSocket*> m_sockets; // children of m_server
    QList<QList<TChatRecord>> m_received;
    QByteArrayList m_partial;
    QByteArray m_greeting;
};

// tools/chatserver as a child process on a free loopback port.
class RelayProcess {
public:
    // `arguments` come after "--port 0"; `maxDescriptors` > 0 lowers the server's descriptor limit.
    explicit RelayProcess(const QStringList& arguments = {}, rlim_t maxDescriptors = 0) {
        const QString program = qEnvironmentVariable("VESTREL_BIN_DIR") + QStringLiteral("/chatserver");
        m_process.setReadChannel(QProcess::StandardError);
        if (maxDescriptors > 0) {
            m_process.setChildProcessModifier([maxDescriptors] {
                const rlimit limit{maxDescriptors, maxDescriptors};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            });
        }
        m_process.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        QVERIFY2(m_process.waitForStarted(), qPrintable(program));
        QByteArray output;
        while (!output.contains('\n') && m_process.waitForReadyRead(5000))
            output += m_process.readAllStandardError();
        const qsizetype colon = output.lastIndexOf(':');
        m_port = quint16(output.mid(colon + 1).trimmed().toUInt());
        QVERIFY2(m_port != 0, output.constData());
    }
    ~RelayProcess() {
        m_process.kill();
        m_process.waitForFinished();
    }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // What the server logged since the last call.
    QByteArray takeLog() { return m_process.readAllStandardError(); }
    void kill() {
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// One chat client in the test process: its settings, its message boxes and its window.
struct Peer {
    TUserConfig config;
    RecordingBoxes boxes;
    std::unique_ptr<TClientFrmMain> window;

    Peer(const QByteArray& nick, const QByteArray& machine, quint16 port, const QByteArray& notifica = "0",
         TClientFrmMain::Dialogs dialogs = {}) {
        config.Nick = nick;
        config.Host = "host-" + nick;
        config.Server = "127.0.0.1";
        config.Porta = QByteArray::number(port);
        config.Notifica = notifica;
        window = std::make_unique<TClientFrmMain>(config, boxes, std::move(dialogs));
        window->Client().setLocalName(machine);
    }

    QStringList listBox() const {
        QStringList names;
        for (int i = 0; i < window->ListBox1->count(); ++i)
            names.append(window->ListBox1->item(i)->text());
        return names;
    }
    QStringList pane() const { return window->IncomingMessages->toPlainText().split(QLatin1Char('\n')); }
    qsizetype paneCount(const QString& line) const { return pane().count(line); }

    void type(const QString& text, const QString& recipient) {
        window->Edit1->setText(recipient);
        QTest::keyClicks(window->Memo1, text);
        QTest::keyClick(window->Memo1, Qt::Key_Return);
    }
};

} // namespace vestrel::chat::test
