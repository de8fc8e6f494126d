#include "platform/Cp1252.h"
#include "tools/chatserver/AccountStore.h"
#include "tools/chatserver/CertificateMaker.h"
#include "tools/chatserver/PasswordInput.h"
#include "tools/chatserver/RelayServer.h"
#include "tools/chatserver/ServerTls.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace vestrel::chatserver;

namespace {

int fail(const QString& message, int code = 2) {
    std::fprintf(stderr, "chatserver: %s\n", qPrintable(message));
    return code;
}

int makeCertificateIn(const QString& dir, QStringList hosts) {
    if (hosts.isEmpty())
        hosts.append(QSysInfo::machineHostName());
    QString error;
    const QString fingerprint = makeCertificate(dir, hosts, &error);
    if (fingerprint.isEmpty())
        return fail(error, 1);
    std::printf("SHA-256 fingerprint: %s\n", qPrintable(fingerprint));
    return 0;
}

// --set-password and --remove-account: edit the accounts file and end.
int editAccounts(const QString& path, const QString& setName, const QString& removeName) {
    if (!password::initialise())
        return fail(u"the password library cannot start"_s, 1);
    AccountStore store(path);
    QString error;
    if (QFile::exists(path) && !store.load(&error))
        return fail(error, 1);
    if (!removeName.isEmpty()) {
        if (!store.remove(vestrel::cp1252::fromUnicode(removeName)))
            return fail(u"no account \"%1\" in %2"_s.arg(removeName, path), 1);
    } else {
        if (const QString why = AccountStore::invalidName(setName); !why.isEmpty())
            return fail(u"invalid account name \"%1\": %2"_s.arg(setName, why));
        const auto secret = readNewPassword(setName, &error);
        if (!secret)
            return fail(error, 1);
        // The client sends the password in cp1252; it must reach the server unchanged.
        if (const QStringList bad = vestrel::cp1252::unrepresentable(*secret); !bad.isEmpty())
            return fail(u"the password holds characters the chat cannot carry: %1"_s.arg(bad.join(u' ')));
        const QByteArray bytes = vestrel::cp1252::fromUnicode(*secret);
        if (bytes.size() > 255)
            return fail(u"the password is longer than 255 characters"_s);
        const QByteArray hash = password::hash(bytes);
        if (hash.isEmpty())
            return fail(u"cannot hash the password (out of memory?)"_s, 1);
        store.setHash(vestrel::cp1252::fromUnicode(setName), hash);
    }
    if (!store.save(&error))
        return fail(error, 1);
    std::fprintf(stderr, "chatserver: %s saved\n", qPrintable(path));
    return 0;
}

} // namespace

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
    const QCommandLineOption certOption(u"tls-cert"_s, u"Serve TLS with this PEM certificate (with --tls-key)."_s,
                                        u"FILE"_s);
    const QCommandLineOption keyOption(u"tls-key"_s, u"The PEM private key of --tls-cert."_s, u"FILE"_s);
    const QCommandLineOption accountsOption(
        u"accounts"_s, u"Every client must log in with an account of this file (needs TLS)."_s, u"FILE"_s);
    const QCommandLineOption setPasswordOption(
        u"set-password"_s, u"Add the account or change its password (read from standard input) and end."_s, u"NAME"_s);
    const QCommandLineOption removeOption(u"remove-account"_s, u"Remove the account and end."_s, u"NAME"_s);
    const QCommandLineOption makeCertOption(
        u"make-cert"_s, u"Write a new self-signed chatserver.key and chatserver.crt into DIR and end."_s, u"DIR"_s);
    const QCommandLineOption certHostOption(
        u"cert-host"_s, u"A host name or address the new certificate names (repeatable; default this machine's)."_s,
        u"NAME"_s);
    parser.addOptions({portOption, listenOption, loginTimeoutOption, perAddressOption, certOption, keyOption,
                       accountsOption, setPasswordOption, removeOption, makeCertOption, certHostOption});
    parser.process(app);

    if (parser.isSet(makeCertOption))
        return makeCertificateIn(parser.value(makeCertOption), parser.values(certHostOption));
    if (parser.isSet(setPasswordOption) || parser.isSet(removeOption)) {
        if (!parser.isSet(accountsOption))
            return fail(u"--set-password and --remove-account need --accounts FILE"_s);
        if (parser.isSet(setPasswordOption) && parser.isSet(removeOption))
            return fail(u"--set-password and --remove-account: one at a time"_s);
        return editAccounts(parser.value(accountsOption), parser.value(setPasswordOption), parser.value(removeOption));
    }
    if (parser.isSet(certOption) != parser.isSet(keyOption))
        return fail(u"--tls-cert and --tls-key go together"_s);
    if (parser.isSet(accountsOption) && !parser.isSet(certOption))
        return fail(u"--accounts needs TLS (--tls-cert and --tls-key): passwords never travel in clear text"_s);

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
    if (parser.isSet(certOption)) {
        QString error;
        const auto tls = loadServerTls(parser.value(certOption), parser.value(keyOption), &error);
        if (!tls)
            return fail(error, 1);
        server.setTls(*tls);
    }
    if (parser.isSet(accountsOption)) {
        if (!password::initialise())
            return fail(u"the password library cannot start"_s, 1);
        auto accounts = std::make_unique<AccountStore>(parser.value(accountsOption));
        QString error;
        if (!accounts->load(&error))
            return fail(error, 1);
        if (accounts->count() == 0)
            std::fprintf(stderr, "chatserver: warning: %s holds no account; nobody can log in\n",
                         qPrintable(parser.value(accountsOption)));
        server.setAccounts(std::move(accounts));
    }
    if (!server.listen(address, quint16(port))) {
        std::fprintf(stderr, "chatserver: cannot listen on %s:%u: %s\n", qPrintable(address.toString()), port,
                     qPrintable(server.errorString()));
        return 1;
    }
    // Tests and scripts read the port from this line when they asked for a free one.
    std::fprintf(stderr, "chatserver: listening on %s:%u%s%s\n", qPrintable(address.toString()), server.serverPort(),
                 server.usesTls() ? " with TLS" : "", parser.isSet(accountsOption) ? " and accounts" : "");
    std::fflush(stderr);
    return app.exec();
}
