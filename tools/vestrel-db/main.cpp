// vestrel-db: creates and checks the office database, and adds the low-privilege user the programs
// log in with.

#include "fb/FbError.h"
#include "tools/vestrel-db/OfficeDatabase.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;
using namespace vestrel;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

constexpr char Help[] =
    "Usage: vestrel-db create [--user U --password P] DATABASE\n"
    "       vestrel-db check [--user U --password P] DATABASE\n"
    "       vestrel-db add-user --password P [--user U] --new-password Q NAME DATABASE\n"
    "       vestrel-db --help\n"
    "\n"
    "Creates and checks the office database of VERicorr, vericorr-due and VEBackupd.\n"
    "DATABASE is a file path for the embedded engine, or host[/port]:path for a Firebird server.\n"
    "\n"
    "  create    makes a new WIN1252, dialect 1 database holding every table, generator and index\n"
    "            the programs use (from share/vestrel/schema.sql); an existing database is refused.\n"
    "  check     tells every table, column or generator the programs need that is missing or of\n"
    "            another type; exit status 0 only when nothing is.\n"
    "  add-user  creates the database user NAME with password Q on the server, granted only what\n"
    "            the programs need, so that config.ini need not hold the SYSDBA password;\n"
    "            --user and --password name the administrator (SYSDBA by default).\n"
    "\n"
    "--user defaults to SYSDBA; a password may also come from $ISC_PASSWORD.\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int usage(const QString& problem) {
    print(stderr, u"vestrel-db: "_s + problem + u"\n(vestrel-db --help shows how to use it)\n"_s);
    return ExitUsage;
}

int failure(const QString& problem) {
    print(stderr, u"vestrel-db: "_s + problem + u'\n');
    return ExitFailure;
}

QString oneLine(const std::exception& e) {
    return QString::fromLocal8Bit(e.what()).simplified();
}

struct Options {
    QString command;
    QByteArray user = "SYSDBA";
    std::optional<QByteArray> password;
    std::optional<QByteArray> newPassword;
    QByteArrayList positional;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments.contains(u"--help"_s) || arguments.contains(u"-h"_s)) {
        print(stdout, QString::fromLatin1(Help));
        return ExitOk;
    }
    if (arguments.isEmpty())
        return usage(u"a command is needed: create, check or add-user"_s);

    Options options;
    options.command = arguments.takeFirst();
    if (qEnvironmentVariableIsSet("ISC_PASSWORD"))
        options.password = qgetenv("ISC_PASSWORD");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg == u"--user"_s || arg == u"--password"_s || arg == u"--new-password"_s) {
            if (i + 1 >= arguments.size())
                return usage(arg + u" needs a value"_s);
            const QByteArray value = arguments.at(++i).toLocal8Bit();
            if (arg == u"--user"_s)
                options.user = value;
            else if (arg == u"--password"_s)
                options.password = value;
            else
                options.newPassword = value;
        } else if (arg.startsWith(u"--"_s)) {
            return usage(u"unknown option "_s + arg);
        } else {
            options.positional.append(QFile::encodeName(arg));
        }
    }
    QByteArrayList params{"user_name=" + options.user};
    if (options.password)
        params.append("password=" + *options.password);

    try {
        if (options.command == u"create"_s || options.command == u"check"_s) {
            if (options.positional.size() != 1)
                return usage(options.command + u" takes one DATABASE"_s);
            const QByteArray database = options.positional.first();
            QFile file(officedb::SchemaFile());
            if (!file.open(QIODevice::ReadOnly))
                return failure(u"cannot read the schema "_s + file.fileName() + u": "_s + file.errorString());
            const QByteArray script = file.readAll();
            if (options.command == u"create"_s) {
                officedb::CreateDatabase(database, params, script);
                print(stdout, u"created "_s + QFile::decodeName(database) + u'\n');
                return ExitOk;
            }
            const QStringList problems = officedb::CheckDatabase(database, params, officedb::ParseSchema(script));
            for (const QString& problem : problems)
                print(stdout, problem + u'\n');
            if (!problems.isEmpty())
                return failure(u"%1 lacks what the programs need (%2 problems)"_s.arg(QFile::decodeName(database))
                                   .arg(problems.size()));
            print(stdout, QFile::decodeName(database) + u": everything the programs need is there\n"_s);
            return ExitOk;
        }
        if (options.command == u"add-user"_s) {
            if (options.positional.size() != 2)
                return usage(u"add-user takes NAME and DATABASE"_s);
            if (!options.newPassword)
                return usage(u"add-user needs --new-password for the new user"_s);
            officedb::AddUser(options.positional.at(1), params, options.positional.at(0), *options.newPassword);
            print(stdout, u"user "_s + QString::fromLatin1(options.positional.at(0).toUpper()) +
                              u" created; put it in config.ini (user, pwd)\n"_s);
            return ExitOk;
        }
    } catch (const std::exception& e) {
        return failure(oneLine(e));
    }
    return usage(u"unknown command "_s + options.command);
}
