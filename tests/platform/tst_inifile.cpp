#include "platform/IniFile.h"
#include "platform/IniText.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using namespace vestrel;

using testing::readFile;
using testing::writeFile;

namespace {

constexpr int kKeysPerWriter = 250;
constexpr int kWriters = 4;

// Run as a child process: writes `count` keys of its own into section [W], one write each, and
// reports every write that returned on standard output.
int runWriter(const QString& file, const QByteArray& prefix, int count) {
    IniFile ini(file);
    for (int i = 0; i < count; ++i) {
        ini.WriteInteger("W", prefix + QByteArray::number(i), i * 3);
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    return 0;
}

std::unique_ptr<QProcess> startWriter(const QString& file, const QString& prefix, int count) {
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setReadChannel(QProcess::StandardOutput);
    process->start(QCoreApplication::applicationFilePath(), {u"--ini-writer"_s, file, prefix, QString::number(count)});
    return process;
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("VESTREL_PROGRAM_DIR", m_dir.path().toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", m_dir.path().toLocal8Bit());
    }

    void readsLikeTheProfileFunctions_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray def = "<default>";
        QTest::newRow("plain") << QByteArray("[Server]\r\nHost=pc1\r\n") << QByteArray("Server") << QByteArray("Host")
                               << QByteArray("pc1");
        QTest::newRow("names ignore case")
            << QByteArray("[SERVER]\nhOsT=pc1\n") << QByteArray("server") << QByteArray("HOST") << QByteArray("pc1");
        QTest::newRow("blanks trimmed") << QByteArray("  [ Porta ]  \n  Porta  =  47110  \n") << QByteArray("Porta")
                                        << QByteArray("Porta") << QByteArray("47110");
        QTest::newRow("double quotes") << QByteArray("[a]\nk=\" spaced \"\n") << QByteArray("a") << QByteArray("k")
                                       << QByteArray(" spaced ");
        QTest::newRow("single quotes") << QByteArray("[a]\nk='x'\n") << QByteArray("a") << QByteArray("k")
                                       << QByteArray("x");
        QTest::newRow("unmatched quotes kept")
            << QByteArray("[a]\nk=\"x'\n") << QByteArray("a") << QByteArray("k") << QByteArray("\"x'");
        QTest::newRow("key ends at first equals") << QByteArray("[b]\nC:\\db\\a.gdb=x=y\n") << QByteArray("b")
                                                  << QByteArray("C:\\db\\a.gdb") << QByteArray("x=y");
        QTest::newRow("first duplicate wins")
            << QByteArray("[a]\nk=1\nk=2\n") << QByteArray("a") << QByteArray("k") << QByteArray("1");
        QTest::newRow("repeated section reads its first copy")
            << QByteArray("[a]\nk=1\n[b]\n[A]\nj=2\n") << QByteArray("a") << QByteArray("j") << def;
        QTest::newRow("lone CR ends lines")
            << QByteArray("[S1]\ra=1\rb=2\r[S2]\ra=3\r") << QByteArray("S1") << QByteArray("a") << QByteArray("1");
        QTest::newRow("CR CR LF") << QByteArray("[a]\r\r\nk=1\r\r\nj=2\n") << QByteArray("a") << QByteArray("j")
                                  << QByteArray("2");
        QTest::newRow("names given are trimmed") << QByteArray("[Ufficio]\r\ncount=0\r\n") << QByteArray(" Ufficio\t")
                                                 << QByteArray(" count ") << QByteArray("0");
        QTest::newRow("key above every header has the unnamed section")
            << QByteArray("k=1\n[a]\n") << QByteArray("") << QByteArray("k") << QByteArray("1");
        QTest::newRow("comment is no key") << QByteArray("[a]\n;k=1\n") << QByteArray("a") << QByteArray(";k") << def;
        QTest::newRow("key before any section")
            << QByteArray("k=1\n[a]\n") << QByteArray("a") << QByteArray("k") << def;
        QTest::newRow("empty value is a value")
            << QByteArray("[a]\nk=\n") << QByteArray("a") << QByteArray("k") << QByteArray();
        QTest::newRow("other section") << QByteArray("[a]\nk=1\n[b]\n") << QByteArray("b") << QByteArray("k") << def;
        QTest::newRow("utf8 mark before header")
            << QByteArray("\xEF\xBB\xBF[a]\nk=1\n") << QByteArray("a") << QByteArray("k") << QByteArray("1");
        QTest::newRow("cp1252 names") << QByteArray("[Citt\xC0]\nPerch\xC9=s\xEC\n") << QByteArray("citt\xE0")
                                      << QByteArray("perch\xE9") << QByteArray("s\xEC");
        QTest::newRow("name without value hides a later key")
            << QByteArray("[a]\nk\nk=1\n") << QByteArray("a") << QByteArray("k") << def;
        QTest::newRow("unclosed header names no section")
            << QByteArray("[a\nk=1\n") << QByteArray("a") << QByteArray("k") << def;
        QTest::newRow("unclosed header leaves keys in the section before")
            << QByteArray("[s]\n[a\nk=1\n") << QByteArray("s") << QByteArray("k") << QByteArray("1");
    }
    void readsLikeTheProfileFunctions() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        writeFile(path(u"read.ini"_s), content);
        IniFile ini(path(u"read.ini"_s));
        QCOMPARE(ini.ReadString(section, key, "<default>"), expected);
    }

    void readsIntegers_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << QByteArray("42") << 42;
        QTest::newRow("negative") << QByteArray("-1") << -1;
        QTest::newRow("hex") << QByteArray("0x1F") << 31;
        QTest::newRow("hex bit pattern") << QByteArray("0xFFFFFFFF") << -1;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("overflow") << QByteArray("2147483648") << 77;
        QTest::newRow("trailing text") << QByteArray("12abc") << 77;
        QTest::newRow("word") << QByteArray("abc") << 77;
        QTest::newRow("empty") << QByteArray("") << 77;
        QTest::newRow("bare prefix") << QByteArray("0x") << 77;
        QTest::newRow("sign only") << QByteArray("-") << 77;
    }
    void readsIntegers() {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        writeFile(path(u"int.ini"_s), "[n]\nv=" + value + "\n");
        IniFile ini(path(u"int.ini"_s));
        QCOMPARE(ini.ReadInteger("n", "v", 77), expected);
        if (expected != 77) {
            QCOMPARE(ini.ReadIntegerStrict("n", "v"), expected);
        } else {
            QVERIFY_THROWS_EXCEPTION(ConversionError, ini.ReadIntegerStrict("n", "v"));
        }
    }

    void strictIntegerNamesTheBadValue() {
        writeFile(path(u"strict.ini"_s), "[GRCREATI]\nCount=abc\n");
        IniFile ini(path(u"strict.ini"_s));
        try {
            ini.ReadIntegerStrict("GRCREATI", "count");
            QFAIL("no ConversionError");
        } catch (const ConversionError& e) {
            QCOMPARE(QByteArray(e.what()), QByteArray("'abc' is not a valid integer value"));
        }
        QVERIFY_THROWS_EXCEPTION(ConversionError, ini.ReadIntegerStrict("GRCREATI", "missing"));
    }

    void readsTimesAndBooleans_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QTime>("expected");
        const QTime def(1, 2, 3);
        QTest::newRow("colon") << QByteArray("21:30") << QTime(21, 30);
        QTest::newRow("dot") << QByteArray("7.05") << QTime(7, 5);
        QTest::newRow("seconds") << QByteArray("23:59:58") << QTime(23, 59, 58);
        QTest::newRow("hour out of range") << QByteArray("24:00") << def;
        QTest::newRow("one field") << QByteArray("12") << def;
        QTest::newRow("words") << QByteArray("mezzanotte") << def;
        QTest::newRow("empty field") << QByteArray("12:") << def;
    }
    void readsTimesAndBooleans() {
        QFETCH(QByteArray, value);
        QFETCH(QTime, expected);
        writeFile(path(u"time.ini"_s), "[Backup]\nOra=" + value + "\nOn=2\nOff=0\nBad=x\n");
        IniFile ini(path(u"time.ini"_s));
        QCOMPARE(ini.ReadTime("Backup", "Ora", QTime(1, 2, 3)), expected);
        QVERIFY(ini.ReadBool("Backup", "On", false));
        QVERIFY(!ini.ReadBool("Backup", "Off", true));
        QVERIFY(ini.ReadBool("Backup", "Bad", true));
        QVERIFY(!ini.ReadBool("Backup", "Missing", false));
    }

    void rewriteKeepsEverythingElse() {
        const QByteArray before = "; settings\r\n[Server]\r\nHOST=old\r\n# odd line\r\n\r\n[Porta]\r\nPorta=1\r\n";
        writeFile(path(u"keep.ini"_s), before);
        const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(path(u"keep.ini"_s), permissions));
        IniFile ini(path(u"keep.ini"_s));
        ini.WriteString("server", "host", "new");
        QCOMPARE(QFile::permissions(path(u"keep.ini"_s)) & 0x7077, permissions); // owner, group, other
        QCOMPARE(readFile(path(u"keep.ini"_s)),
                 QByteArray("; settings\r\n[Server]\r\nHOST=new\r\n# odd line\r\n\r\n[Porta]\r\nPorta=1\r\n"));
        QCOMPARE(ini.ReadString("SERVER", "Host", ""), QByteArray("new"));
    }

    void newKeysAndSectionsGoWhereTheyBelong() {
        writeFile(path(u"place.ini"_s), "[a]\nx=1\n; about b\n\n[b]\ny=2\n");
        IniFile ini(path(u"place.ini"_s));
        ini.WriteString("A", "z", "3");
        ini.WriteInteger("c", "n", -4);
        ini.WriteString("b", "w", "5");
        // Line feeds stay line feeds; the new key follows the section's last key.
        QCOMPARE(readFile(path(u"place.ini"_s)),
                 QByteArray("[a]\nx=1\nz=3\n; about b\n\n[b]\ny=2\nw=5\n\n[c]\nn=-4\n"));
        QCOMPARE(ini.ReadSection("a"), QByteArrayList({"x", "z"}));
        QCOMPARE(ini.ReadSections(), QByteArrayList({"a", "b", "c"}));
    }

    void newFileUsesCrLfAndDoubledSeparatorWorks() {
        // The program directory ends in a separator and the file name starts with one.
        const QString composed = m_dir.path() + u"/\\gruppi.ini"_s;
        {
            IniFile ini(composed);
            QCOMPARE(ini.FileName(), composed);
            ini.WriteString("GRCREATI", "0", "Ufficio");
            ini.WriteInteger("GRCREATI", "Count", 0);
        }
        QCOMPARE(readFile(path(u"gruppi.ini"_s)), QByteArray("[GRCREATI]\r\n0=Ufficio\r\nCount=0\r\n"));
        IniFile again(m_dir.path() + u"\\\\gruppi.ini"_s);
        QCOMPARE(again.ReadIntegerStrict("grcreati", "count"), 0);
    }

    void groupListRewriteIsClean() {
        // Erase then write, as the group store saves its list: no stale keys, no duplicate sections.
        writeFile(path(u"groups.ini"_s),
                  "[GRCREATI]\r\n0=A\r\n1=B\r\nCount=1\r\n[A]\r\n0=x\r\ncount=0\r\n[grcreati]\r\n9=Z\r\n");
        IniFile ini(path(u"groups.ini"_s));
        ini.EraseSection("GRCREATI");
        QVERIFY(!ini.SectionExists("GRCREATI"));
        ini.WriteString("GRCREATI", "0", "B");
        ini.WriteInteger("GRCREATI", "Count", 0);
        QCOMPARE(ini.ReadSection("GRCREATI"), QByteArrayList({"0", "Count"}));
        QCOMPARE(ini.ReadString("A", "0", ""), QByteArray("x"));
        ini.DeleteKey("a", "0");
        QVERIFY(!ini.ValueExists("A", "0"));
        QVERIFY(ini.ValueExists("A", "COUNT"));
    }

    void listsEveryKeyAndHeaderOfTheFirstCopy() {
        // Two databases whose names differ only in case are two files here: both must be listed.
        writeFile(path(u"lists.ini"_s), "[File]\r\nsrv:/data/Ditta.fdb=\r\nsrv:/data/ditta.fdb=\r\nk=1\r\nk=2\r\n"
                                        "[B]\r\nx=1\r\n[file]\r\nlater=1\r\n");
        IniFile ini(path(u"lists.ini"_s));
        QCOMPARE(ini.ReadSection(" file "), QByteArrayList({"srv:/data/Ditta.fdb", "srv:/data/ditta.fdb", "k", "k"}));
        QCOMPARE(ini.ReadSections(), QByteArrayList({"File", "B", "file"}));
        QCOMPARE(ini.ReadString("File", "k", ""), QByteArray("1"));
        QCOMPARE(ini.ReadString("File", "later", "<default>"), QByteArray("<default>"));

        // Writes go to the first copy, where reads find them.
        ini.WriteString("FILE", "later", "2");
        QCOMPARE(ini.ReadString("File", "later", ""), QByteArray("2"));
        QCOMPARE(readFile(path(u"lists.ini"_s)),
                 QByteArray("[File]\r\nsrv:/data/Ditta.fdb=\r\nsrv:/data/ditta.fdb=\r\n"
                            "k=1\r\nk=2\r\nlater=2\r\n[B]\r\nx=1\r\n[file]\r\nlater=1\r\n"));
        // Deleting removes every copy, so the later one cannot resurface.
        ini.DeleteKey("file", "later");
        QVERIFY(!ini.ValueExists("File", "later"));
        QVERIFY(!readFile(path(u"lists.ini"_s)).contains("later"));
        ini.EraseSection("FILE");
        QCOMPARE(ini.ReadSections(), QByteArrayList({"B"}));
    }

    void nameWithoutValueTakesTheFirstWrite() {
        writeFile(path(u"names.ini"_s), "[a]\r\nk\r\nk=1\r\nj=2\r\n");
        IniFile ini(path(u"names.ini"_s));
        QCOMPARE(ini.ReadSection("a"), QByteArrayList({"k", "j"}));
        QVERIFY(!ini.ValueExists("a", "k"));
        ini.WriteString("a", "K", "5");
        QCOMPARE(readFile(path(u"names.ini"_s)), QByteArray("[a]\r\nk=5\r\nk=1\r\nj=2\r\n"));
        QCOMPARE(ini.ReadSection("a"), QByteArrayList({"k", "k", "j"}));
        QCOMPARE(ini.ReadString("a", "k", ""), QByteArray("5"));
    }

    void keyForTheUnnamedSectionKeepsTheUtf8MarkFirst() {
        // Found by fuzzing: the mark moved to the second line, and the header behind it was lost.
        writeFile(path(u"mark.ini"_s), "\xEF\xBB\xBF[Backup]\r\nOra=21.30\r\n");
        IniFile ini(path(u"mark.ini"_s));
        ini.WriteString("", "k1", "1");
        QCOMPARE(readFile(path(u"mark.ini"_s)), QByteArray("\xEF\xBB\xBFk1=1\r\n[Backup]\r\nOra=21.30\r\n"));
        QCOMPARE(ini.ReadString("Backup", "Ora", ""), QByteArray("21.30"));
        QCOMPARE(ini.ReadString("", "k1", ""), QByteArray("1"));
    }

    void writesKeepLoneCrLines() {
        writeFile(path(u"cr.ini"_s), "[S1]\ra=1\rb=2\r[S2]\ra=3\r");
        IniFile ini(path(u"cr.ini"_s));
        ini.WriteString("S1", "c", "4");
        ini.WriteString(" Ufficio ", "count", "0");
        QCOMPARE(readFile(path(u"cr.ini"_s)), QByteArray("[S1]\ra=1\rb=2\rc=4\r[S2]\ra=3\r\r[Ufficio]\rcount=0\r"));
        QCOMPARE(ini.ReadString(" Ufficio ", "count", "<default>"), QByteArray("0"));
        QCOMPARE(ini.ReadString("S2", "a", ""), QByteArray("3"));
    }

    void bareHeaderIsNoSection() {
        writeFile(path(u"bare.ini"_s), "[GRCREATI]\n\n[x]\nk=1\n");
        IniFile ini(path(u"bare.ini"_s));
        QVERIFY(!ini.SectionExists("GRCREATI"));
        QVERIFY(ini.SectionExists("X"));
        QCOMPARE(ini.ReadSections(), QByteArrayList({"GRCREATI", "x"}));
    }

    // A user's copy over the administrator's file: the listings join both, an erase brings the
    // defaults back, and a copy holding old defaults (a full copy) sheds them at its next write.
    void usersCopyOverDefaults() {
        const QString defaults = path(u"over/admin.ini"_s);
        const QString mine = path(u"over/user/own.ini"_s);
        QVERIFY(QDir().mkpath(path(u"over"_s)));
        writeFile(defaults, "[a]\r\nk=1\r\nj=2\r\n[b]\r\nx=9\r\n");
        IniFile ini(mine, defaults);
        QCOMPARE(ini.ReadString("A", "K", "-"), QByteArray("1"));
        ini.WriteString("a", "j", "3");
        ini.WriteString("c", "y", "4");
        QCOMPARE(readFile(mine), QByteArray("[a]\r\nj=3\r\n\r\n[c]\r\ny=4\r\n"));
        QCOMPARE(ini.ReadSection("a"), QByteArrayList({"j", "k"}));
        QCOMPARE(ini.ReadSections(), QByteArrayList({"a", "c", "b"}));
        QVERIFY(ini.SectionExists("b"));

        ini.EraseSection("a");
        QCOMPARE(ini.ReadString("a", "j", "-"), QByteArray("2"));
        ini.DeleteKey("b", "x"); // nothing of the user's: the defaults stay as they are
        QCOMPARE(ini.ReadString("b", "x", "-"), QByteArray("9"));
        QCOMPARE(readFile(defaults), QByteArray("[a]\r\nk=1\r\nj=2\r\n[b]\r\nx=9\r\n"));

        writeFile(mine, "; mine\r\n[a]\r\nk=1\r\nj=\"2\"\r\n[b]\r\nx=8\r\n[c]\r\ny=4\r\n");
        ini.WriteString("c", "y", "5");
        QCOMPARE(readFile(mine), QByteArray("; mine\r\n[b]\r\nx=8\r\n[c]\r\ny=5\r\n"));
        writeFile(defaults, "[a]\r\nk=7\r\n");
        QCOMPARE(ini.ReadString("a", "k", "-"), QByteArray("7"));
    }

    void readersSeeOtherWritersAndKeepTheirChanges() {
        const QString file = path(u"shared.ini"_s);
        QFile::remove(file);
        IniFile mainWindow(file);
        IniFile dialog(file);
        QCOMPARE(mainWindow.ReadString("g", "0", "none"), QByteArray("none"));
        dialog.WriteString("g", "0", "anna");
        QCOMPARE(mainWindow.ReadString("g", "0", "none"), QByteArray("anna"));
        mainWindow.WriteString("g", "1", "marco");
        QCOMPARE(dialog.ReadSection("g"), QByteArrayList({"0", "1"}));
    }

    void writesCannotForgeOtherLines() {
        const QString file = path(u"inject.ini"_s);
        QFile::remove(file);
        IniFile ini(file);
        ini.WriteString("a", "k", "x\r\n[evil]\r\nk=1");
        QCOMPARE(ini.ReadSections(), QByteArrayList({"a"}));
        QCOMPARE(ini.ReadString("a", "k", ""), QByteArray("x  [evil]  k=1"));
        // Names the reader would not find again are refused rather than appended on every write.
        for (const char* key : {"", "a=b", ";c", "[d"})
            QVERIFY_THROWS_EXCEPTION(IniWriteError, ini.WriteString("a", key, "v"));
        // First in a file, a key starting with the UTF-8 mark would be read back without it.
        QVERIFY_THROWS_EXCEPTION(IniWriteError, ini.WriteString("", "\xEF\xBB\xBFk", "v"));
        QVERIFY_THROWS_EXCEPTION(IniWriteError, ini.WriteString("grp]x", "0", "v"));
        QCOMPARE(ini.ReadSection("a"), QByteArrayList({"k"}));
    }

    void rewriteReadsBackTheSameLines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("stray CRs (found by fuzzing)")
            << QByteArray::fromBase64("OyCqDSAK/yP/ZXJ2ZXJdDQr//291anZlZXJdDQ0K");
        QTest::newRow("mixed line ends") << QByteArray("[a]\nk=1\r\n\r\r\nj=2\r");
        QTest::newRow("no final line end") << QByteArray("[a]\r\nk=1");
        QTest::newRow("lone CR inside a line") << QByteArray("[a]\nk=1\r2\n");
    }
    void rewriteReadsBackTheSameLines() {
        QFETCH(QByteArray, content);
        const initext::Text first = initext::parse(content);
        const initext::Text second = initext::parse(initext::serialize(first));
        QCOMPARE(second.newline, first.newline);
        QCOMPARE(second.lines.size(), first.lines.size());
        for (std::size_t i = 0; i < first.lines.size(); ++i) {
            QCOMPARE(second.lines[i].raw, first.lines[i].raw);
            QCOMPARE(second.lines[i].name, first.lines[i].name);
        }
    }

    void failedWritesRaiseAndKeepTheFile() {
        IniFile nowhere(path(u"missing-folder/x.ini"_s));
        QCOMPARE(nowhere.ReadString("a", "b", "d"), QByteArray("d"));
        QVERIFY_THROWS_EXCEPTION(IniWriteError, nowhere.WriteString("a", "b", "c"));

        QVERIFY(QDir(m_dir.path()).mkpath(u"folder.ini"_s));
        IniFile isFolder(path(u"folder.ini"_s));
        QVERIFY_THROWS_EXCEPTION(IniWriteError, isFolder.WriteInteger("a", "b", 1));

        // A file too large to read whole is never rewritten from the part that was read.
        QByteArray huge = "[a]\r\nk=1\r\n";
        huge += QByteArray(17 * 1024 * 1024, 'x');
        huge += "\r\n[tail]\r\nt=1\r\n";
        writeFile(path(u"huge.ini"_s), huge);
        IniFile big(path(u"huge.ini"_s));
        QCOMPARE(big.ReadString("a", "k", ""), QByteArray("1"));
        QVERIFY_THROWS_EXCEPTION(IniWriteError, big.WriteString("a", "k", "2"));
        QCOMPARE(readFile(path(u"huge.ini"_s)), huge);
    }

    void writersInSeveralProcessesLoseNothing() {
        const QString file = path(u"concurrent.ini"_s);
        QFile::remove(file);
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 0; w < kWriters; ++w)
            writers.push_back(startWriter(file, u"w%1_"_s.arg(w), kKeysPerWriter));
        for (auto& process : writers) {
            QVERIFY(process->waitForFinished(240000));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
        }
        IniFile ini(file);
        QCOMPARE(ini.ReadSection("W").size(), kWriters * kKeysPerWriter);
        for (int w = 0; w < kWriters; ++w) {
            for (int i = 0; i < kKeysPerWriter; ++i)
                QCOMPARE(ini.ReadInteger("W", "w" + QByteArray::number(w) + '_' + QByteArray::number(i), -1), i * 3);
        }
        QVERIFY(QDir(m_dir.path()).entryList({u"concurrent.ini*"_s}).size() == 1); // no lock files left behind
    }

    void killedWriterLosesNothingItReported() {
        const QString file = path(u"killed.ini"_s);
        writeFile(file, "; kept\r\n[Other]\r\nx=1\r\n");
        auto victim = startWriter(file, u"k"_s, 1000000);
        auto survivor = startWriter(file, u"s"_s, 100);
        int acknowledged = -1;
        while (acknowledged < 60 && victim->waitForReadyRead(30000)) {
            while (victim->canReadLine())
                acknowledged = victim->readLine().trimmed().toInt();
        }
        QVERIFY(acknowledged >= 60);
        victim->kill(); // SIGKILL, wherever it is: inside the lock, the temporary file or the rename
        QVERIFY(victim->waitForFinished(30000));
        QVERIFY(survivor->waitForFinished(120000));
        QCOMPARE(survivor->exitCode(), 0);

        IniFile ini(file);
        QCOMPARE(ini.ReadString("Other", "x", ""), QByteArray("1"));
        for (int i = 0; i <= acknowledged; ++i)
            QCOMPARE(ini.ReadInteger("W", "k" + QByteArray::number(i), -1), i * 3);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(ini.ReadInteger("W", "s" + QByteArray::number(i), -1), i * 3);
        // The kernel released the dead writer's lock: the next write goes through.
        ini.WriteString("Other", "after", "1");
        QCOMPARE(ini.ReadString("Other", "after", ""), QByteArray("1"));
    }

    void garbageReadsWithoutHarm() {
        QByteArray junk;
        for (int i = 0; i < 70000; ++i)
            junk.append(char((i * 7919) % 256));
        junk += QByteArray("\n[ok]\nk=v\0w\n", 12);
        junk.insert(100, QByteArray(1 << 20, '='));
        writeFile(path(u"junk.ini"_s), junk);
        IniFile ini(path(u"junk.ini"_s));
        QCOMPARE(ini.ReadString("ok", "k", ""), QByteArray("v\0w", 3));
        ini.ReadSections();
        ini.WriteString("ok", "n", "1");
        QCOMPARE(ini.ReadString("ok", "n", ""), QByteArray("1"));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--ini-writer") == 0) {
        try {
            return runWriter(QString::fromLocal8Bit(argv[2]), argv[3], QByteArray(argv[4]).toInt());
        } catch (const IniWriteError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 3;
        }
    }
    TestIniFile test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_inifile.moc"
