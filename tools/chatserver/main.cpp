#include "tools/chatserver/RelayServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    app.setApplicationName(u"chatserver"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Relays the records of the Vestrel chat clients."_s);
    parser.addHelpOption();
    const QCommandLineOption portOption(u"port"_s, u"TCP port to listen on (default 47110; 0 picks a free one)."_s,
                                        u"N"_s, u"47110"_s);
    const QCommandLineOption listenOption(u"listen"_s,
                                          u"Address to listen on (default 127.0.0.1; 0.0.0.0 for every network)."_s,
                                          u"ADDR"_s, u"127.0.0.1"_s);
    const QCommandLineOption loginTimeoutOption(
        u"login-timeout"_s, u"Seconds a new connection has to log in before it is closed (default 10)."_s, u"S"_s,
        u"10"_s);
    const QCommandLineOption perAddressOption(
        u"max-per-address"_s, u"Connections one network address may hold at once (default 64)."_s, u"N"_s, u"64"_s);
    parser.addOption(portOption);
    parser.addOption(listenOption);
    parser.addOption(loginTimeoutOption);
    parser.addOption(perAddressOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "chatserver: invalid port \"%s\"\n", qPrintable(parser.value(portOption)));
        return 2;
    }
    const QHostAddress address(parser.value(listenOption));
    if (address.isNull()) {
        std::fprintf(stderr, "chatserver: invalid address \"%s\"\n", qPrintable(parser.value(listenOption)));
        return 2;
    }

    vestrel::chatserver::RelayServer::Limits limits;
    const double loginTimeout = parser.value(loginTimeoutOption).toDouble(&ok);
    if (!ok || loginTimeout <= 0 || loginTimeout > 86400) {
        std::fprintf(stderr, "chatserver: invalid login time-out \"%s\"\n",
                     qPrintable(parser.value(loginTimeoutOption)));
        return 2;
    }
    limits.loginTimeoutMs = int(loginTimeout * 1000);
    limits.maxPerAddress = parser.value(perAddressOption).toInt(&ok);
    if (!ok || limits.maxPerAddress < 1) {
        std::fprintf(stderr, "chatserver: invalid connection limit \"%s\"\n",
                     qPrintable(parser.value(perAddressOption)));
        return 2;
    }

    vestrel::chatserver::RelayServer server;
    server.setLimits(limits);
    if (!server.listen(address, quint16(port))) {
        std::fprintf(stderr, "chatserver: cannot listen on %s:%u: %s\n", qPrintable(address.toString()), port,
                     qPrintable(server.errorString()));
        return 1;
    }
    // Tests and scripts read the port from this line when they asked for a free one.
    std::fprintf(stderr, "chatserver: listening on %s:%u\n", qPrintable(address.toString()), server.serverPort());
    std::fflush(stderr);
    return app.exec();
}
