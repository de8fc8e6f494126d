// Our side of the Windows comparison: makes the case sets, answers them through our stand-ins in
// the probes' format, and compares two sets of answers.
//   wineprobe-twin generate ini|reg|strings [--all]
//   wineprobe-twin answer ini|reg|strings CASES WORKDIR
//   wineprobe-twin compare ini|reg|strings OURS WINDOWS
#include "tests/wine/ProbeCases.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace vestrel::wineprobe;

namespace {

constexpr int kRandomIniCases = 400;
constexpr int kRandomRegistryCases = 60;
constexpr unsigned kSeed = 20261208;

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::exit(2);
    }
    return file.readAll();
}

void print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() >= 2 && args[0] == QLatin1String("generate")) {
        if (args[1] == QLatin1String("ini"))
            print(generateIniCases(kRandomIniCases, kSeed));
        else if (args[1] == QLatin1String("reg"))
            print(generateRegistryCases(kRandomRegistryCases, kSeed));
        else
            print(generateStringCases(args.contains(QLatin1String("--all"))));
        return 0;
    }
    if (args.size() == 4 && args[0] == QLatin1String("answer")) {
        const QByteArray cases = readAll(args[2]);
        if (args[1] == QLatin1String("ini"))
            print(writeAnswers(answerIniCases(cases, args[3])));
        else if (args[1] == QLatin1String("reg"))
            print(writeAnswers(answerRegistryCases(cases)));
        else
            print(writeAnswers(answerStringCases(cases, args[3])));
        return 0;
    }
    if (args.size() == 4 && args[0] == QLatin1String("compare")) {
        const Agreement result =
            compare(readAnswers(readAll(args[2])), readAnswers(readAll(args[3])), args[1] == QLatin1String("reg"));
        for (const QString& line : result.differences)
            std::printf("  %s\n", qPrintable(line));
        const int total = result.agree + result.kept + result.differ;
        std::printf("%s: %d of %d agree (%.1f %%), %d differ by a kept rule, %d differ\n", qPrintable(args[1]),
                    result.agree, total, total ? 100.0 * result.agree / total : 100.0, result.kept, result.differ);
        return result.differ == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: wineprobe-twin generate|answer|compare ...\n");
    return 2;
}
