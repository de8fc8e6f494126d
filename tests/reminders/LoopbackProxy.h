#pragma once

// A TCP proxy on 127.0.0.1 between a database client and the Firebird server, on a thread of its own
// (the client blocks the test's thread while it waits for the server). Cut() drops every connection and
// refuses new ones, as a network that went away; Restore() lets connections through again.

#include <QHostAddress>
#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>

namespace vestrel::testing {

class LoopbackProxy {
public:
    LoopbackProxy(quint16 targetPort)
        : m_targetPort(targetPort) {
        m_thread.start();
        m_server = new QTcpServer;
        m_server->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_server,
            [this] {
                QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] { accept(); });
                m_server->listen(QHostAddress::LocalHost, 0);
                m_port = m_server->serverPort();
            },
            Qt::BlockingQueuedConnection);
    }
    ~LoopbackProxy() {
        QMetaObject::invokeMethod(
            m_server,
            [this] {
                dropAll();
                delete m_server;
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    quint16 port() const { return m_port; }

    void Cut() {
        m_open = false;
        QMetaObject::invokeMethod(
            m_server, [this] { dropAll(); }, Qt::BlockingQueuedConnection);
    }
    void Restore() { m_open = true; }

private:
    void accept() {
        while (QTcpSocket* client = m_server->nextPendingConnection()) {
            if (!m_open) {
                client->abort();
                client->deleteLater();
                continue;
            }
            auto* upstream = new QTcpSocket(m_server);
            client->setParent(m_server);
            upstream->connectToHost(QHostAddress::LocalHost, m_targetPort);
            QObject::connect(client, &QTcpSocket::readyRead, upstream,
                             [client, upstream] { upstream->write(client->readAll()); });
            QObject::connect(upstream, &QTcpSocket::readyRead, client,
                             [client, upstream] { client->write(upstream->readAll()); });
            QObject::connect(client, &QTcpSocket::disconnected, upstream,
                             [upstream] { upstream->disconnectFromHost(); });
            QObject::connect(upstream, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        }
    }
    void dropAll() {
        for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>()) {
            socket->abort();
            socket->deleteLater();
        }
    }

    quint16 m_targetPort;
    QThread m_thread;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    std::atomic<bool> m_open{true};
};

} // namespace vestrel::testing
