#include "reminders/DueTool.h"

#include "fb/Connection.h"
#include "fb/DataSet.h"
#include "fb/Query.h"
#include "platform/Clock.h"
#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"
#include "reminders/DatabaseSettings.h"
#include "reminders/DismissalRecord.h"
#include "reminders/MemTable.h"
#include "reminders/ReminderMessages.h"
#include "reminders/RicThread.h"

#include <QFileInfo>

#include <optional>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// Every failure is told in one line, so that scripts can log it and users read it at a glance.
void fail(FILE* err, const QString& problem) {
    print(err, u"vericorr-due: "_s + problem + u'\n');
}

int usage(FILE* err, const QString& problem) {
    fail(err, problem + u" (usage: vericorr-due [--date YYYY-MM-DD] [OP=xx] [PC=yy], "_s
                        u"or vericorr-due --dismiss ID [--date YYYY-MM-DD])"_s);
    return duetool::ExitUsage;
}

// Firebird gives one line per entry of its status vector, the later ones led by "-"; joined with
// "; " they make one line.
QString errorText(const std::exception& e) {
    QStringList parts = QString::fromLocal8Bit(e.what()).split(u'\n', Qt::SkipEmptyParts);
    for (QString& part : parts) {
        if (part.startsWith(u'-'))
            part.remove(0, 1);
        part = part.trimmed();
    }
    return parts.join(u"; "_s);
}

// A title goes on one output line: tabs and line breaks become blanks.
QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

struct Options {
    std::optional<QDate> date;
    std::optional<qint32> dismissId;
    QByteArrayList codes;
};

} // namespace

int RunDueTool(const QStringList& arguments, FILE* out, FILE* err) {
    if (arguments.contains(u"--help"_s) || arguments.contains(u"-h"_s)) {
        print(out, u"Usage: vericorr-due [--date YYYY-MM-DD] [OP=xx] [PC=yy]\n"_s
                   u"       vericorr-due --dismiss ID [--date YYYY-MM-DD]\n"_s
                   u"       vericorr-due --help\n\n"_s
                   u"Prints the reminders VERicorr will show on a day (today by default) for operator xx at\n"_s
                   u"workstation yy, one per line: ID, CRITERIO and title, separated by tabs. A reminder that\n"_s
                   u"cannot be read is told on stderr and skipped. --dismiss records a dismissal of reminder ID\n"_s
                   u"as \"Non mostrare ancora\" does. The database is the one config.ini beside the program names.\n"_s
                   u"Exit status: 0 success, 1 settings or database unreadable, 2 wrong command line.\n"_s);
        return duetool::ExitOk;
    }
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg == u"--help"_s || arg == u"-h"_s) {
            print(out, u"Usage: vericorr-due [--date YYYY-MM-DD] [OP=xx] [PC=yy]\n"
                       u"       vericorr-due --dismiss ID [--date YYYY-MM-DD]\n"
                       u"Prints the reminders due on a day (today by default), one per line: ID, CRITERIO and\n"
                       u"title separated by tabs; --dismiss records a dismissal as \"Non mostrare ancora\" does.\n"
                       u"The database is named in config.ini beside the program. Exit status 0 on success,\n"
                       u"1 when the settings or the database cannot be read, 2 for a wrong command line.\n"_s);
            return duetool::ExitOk;
        }
        if (arg == u"--date"_s || arg == u"--dismiss"_s) {
            if (i + 1 >= arguments.size())
                return usage(err, arg + u" needs a value"_s);
            const QString value = arguments.at(++i);
            if (arg == u"--date"_s) {
                const QDate date = QDate::fromString(value, Qt::ISODate);
                if (!date.isValid() || value.size() != 10)
                    return usage(err, u"not a date: "_s + value);
                options.date = date;
            } else {
                bool ok = false;
                const qint32 id = value.toInt(&ok, 10);
                if (!ok)
                    return usage(err, u"not a reminder ID: "_s + value);
                options.dismissId = id;
            }
        } else if (arg.startsWith(u"--"_s)) {
            return usage(err, u"unknown option "_s + arg);
        } else {
            options.codes.append(cp1252::fromUnicode(arg));
        }
    }
    if (options.codes.size() > 2)
        return usage(err, u"at most two codes (OP=xx PC=yy)"_s);
    if (options.dismissId && !options.codes.isEmpty())
        return usage(err, u"--dismiss takes no codes"_s);

    const FixedClock clock(options.date.value_or(QDate::currentDate()));

    if (options.dismissId) {
        try {
            WriteDismissal(*options.dismissId, clock.today());
        } catch (const std::exception& e) {
            fail(err, u"cannot record the dismissal: "_s + errorText(e));
            return duetool::ExitFailure;
        }
        return duetool::ExitOk;
    }

    // A missing or unreadable file would read as empty and be reported as "no database file".
    const QString configPath = programFileToRead(u"config.ini"_s);
    const QFileInfo config(configPath);
    if (!config.isFile() || !config.isReadable()) {
        fail(err, u"cannot read the settings file "_s + configPath);
        return duetool::ExitFailure;
    }

    // The tool speaks English throughout, so the missing file is told in its own words rather than
    // by the localised text the reminders client shows.
    fb::Connection connection;
    bool noDatabaseFile = false;
    try {
        LoadDatabaseSettings(connection, [&](const QString&) { noDatabaseFile = true; });
        if (noDatabaseFile) {
            fail(err, u"no database file is set in "_s + configPath + u" (key File of section [Database])"_s);
            return duetool::ExitFailure;
        }
        connection.Open();
    } catch (const std::exception& e) {
        fail(err,
             u"cannot open the database "_s + cp1252::toUnicode(connection.DatabaseName()) + u": "_s + errorText(e));
        return duetool::ExitFailure;
    }

    MemTable memTB;
    try {
        // Read by ID, so that a title the connection cannot convert hides only its own reminder.
        fb::DataSet ricorr(connection);
        ricorr.SelectSQL = ReminderMessages::WalkSQL;
        ricorr.KeyField = "ID";
        ricorr.Open();
        ReminderMessages messages(connection.attachment(), connection.transaction());
        ReminderEvaluation evaluation(memTB, ricorr, ParseFilterArguments(options.codes), clock);
        evaluation.setMessageReader([&](qint64 id) { return messages.Read(id); });
        // A damaged row hides nothing but itself: it is told, and the others are listed.
        evaluation.setSkippedRowReport([err](const QByteArray& id, const QString& reason) {
            fail(err, u"reminder "_s + QString::fromLatin1(id) + u" skipped: "_s + oneLine(reason).simplified());
        });
        evaluation.Execute([] { return false; });
        ricorr.Close();
        connection.Commit();
    } catch (const std::exception& e) {
        fail(err, u"cannot read the reminders: "_s + errorText(e));
        return duetool::ExitFailure;
    }

    for (const MemTBRow& row : memTB.rows()) {
        print(out, QString::number(row.ID) + u'\t' + QString::number(row.CRITERIO) + u'\t' +
                       oneLine(cp1252::toUnicode(row.Descrizione)) + u'\n');
    }
    // A full disk or a closed pipe must not pass for an empty list of due reminders.
    if (std::fflush(out) != 0 || std::ferror(out)) {
        fail(err, u"cannot write the list of due reminders"_s);
        return duetool::ExitFailure;
    }
    return duetool::ExitOk;
}

} // namespace vestrel::reminders
