// verinfo [--json] FILE...: prints the version information of program files (PE files of any
// origin and our own programs) for administrators. Exit status: 0 when every file was read, 1 when
// any could not be, 2 for a wrong command line.
#include "platform/FileName.h"
#include "versioninfo/VersionReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::versioninfo;

int main(int argc, char* argv[]) {
    // No application object: nothing here needs an event loop, and a run over hundreds of files
    // should not pay for setting one up.
    // File names keep their bytes, also those that are not UTF-8 (cp1252 names copied from Windows).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeFileName(argv[i]));
    QCoreApplication::setApplicationName(u"verinfo"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Prints the version information of program files."_s);
    parser.addHelpOption();
    const QCommandLineOption json(u"json"_s, u"One JSON object per line per file."_s);
    parser.addOption(json);
    parser.addPositionalArgument(u"FILE"_s, u"Program files (PE or ELF) to read."_s, u"FILE..."_s);
    // Without an application object the parser does not know the program's name.
    const QString help = parser.helpText().replace(u"<executable_name>"_s, u"verinfo"_s);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "verinfo: %s\n%s", qPrintable(parser.errorText()), qPrintable(help));
        return 2;
    }
    if (parser.isSet(u"help"_s)) {
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        std::fprintf(stderr, "verinfo: no file given\n%s", qPrintable(help));
        return 2;
    }

    int status = 0;
    bool first = true;
    const bool asJson = parser.isSet(json);
    QByteArray line; // reused: its room stays from one file to the next
    for (const QString& file : files) {
        const FileVersionReport report = readFileVersionReport(file);
        if (!report.error.isEmpty())
            status = 1;
        if (asJson) {
            line.truncate(0);
            appendReportJson(line, report);
            line += '\n';
            std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
        } else if (!report.error.isEmpty()) {
            std::fprintf(stderr, "verinfo: %s: %s\n", encodeFileName(file).constData(), qPrintable(report.error));
        } else {
            const QByteArray text = (first ? QByteArray() : QByteArray("\n")) + reportText(report);
            first = false;
            std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
        }
    }
    std::fflush(stdout);
    return status;
}
