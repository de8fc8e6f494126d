// Checks our INI reader, registry file reader and string tables against the answers the Windows
// functions gave (under Wine) for a fixed set of cases, frozen in tests/fixtures/wine.
#include "tests/support/TestFiles.h"
#include "tests/wine/ProbeCases.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace vestrel::wineprobe;

class TestWineGolden : public QObject {
    Q_OBJECT

    QString fixture(const QString& name) const {
        return qEnvironmentVariable("VESTREL_TEST_DATA") + u"/wine/"_s + name;
    }

    void check(const QString& area, const std::vector<CaseAnswers>& ours, bool unordered) {
        const auto windows = readAnswers(vestrel::testing::readFile(fixture(area + u".windows"_s)));
        QVERIFY2(!windows.empty(), "no frozen answers");
        const Agreement result = compare(ours, windows, unordered);
        const int total = result.agree + result.kept + result.differ;
        qInfo("%s: %d of %d agree, %d differ by a kept rule", qPrintable(area), result.agree, total, result.kept);
        if (result.differ > 0) {
            for (const QString& line : result.differences)
                qWarning("%s", qPrintable(line));
        }
        QCOMPARE(result.differ, 0);
    }

private slots:
    void iniReadsAndWritesAgreeWithWindows() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray cases = vestrel::testing::readFile(fixture(u"ini.cases"_s));
        check(u"ini"_s, answerIniCases(cases, dir.path()), false);
    }

    void registryFilesImportAsOnWindows() {
        const QByteArray cases = vestrel::testing::readFile(fixture(u"reg.cases"_s));
        check(u"reg"_s, answerRegistryCases(cases), true);
    }

    void stringTablesLoadAsOnWindows() {
        const QByteArray cases = vestrel::testing::readFile(fixture(u"strings.cases"_s));
        check(u"strings"_s, answerStringCases(cases, QStringLiteral(VESTREL_BUILD_DIR)), false);
    }
};

QTEST_GUILESS_MAIN(TestWineGolden)
#include "tst_wine_golden.moc"
