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
    parser.addOption(portOption);
    parser.addOption(listenOption);
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

    vestrel::RelayServer server;
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
