#include "platform/ProgramDir.h"
#include "platform/Registry.h"
#include "platform/RegistryFile.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;
using namespace vestrel;

namespace {

const QByteArray kKey = "\\software\\Pelk Software\\Vestrel";
constexpr int kValuesPerWriter = 200;

QByteArray hiveText() {
    return testing::readFile(registryHiveFile(RegistryHive::CurrentUser));
}

void writeHive(const QByteArray& text) {
    QVERIFY(QDir().mkpath(registryDirectory()));
    testing::writeFile(registryHiveFile(RegistryHive::CurrentUser), text);
}

// Puts `text` in the hive file stamped `modified`: in place (same inode) or by renaming a new file.
void rewriteHive(const QByteArray& text, const QDateTime& modified, bool replace) {
    const QString path = registryHiveFile(RegistryHive::CurrentUser);
    const QString written = replace ? path + u".new"_s : path;
    testing::writeFile(written, text);
    QFile file(written);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    if (replace)
        QVERIFY(std::rename(QFile::encodeName(written).constData(), QFile::encodeName(path).constData()) == 0);
}

QByteArray hiveWithName(const char* name) {
    return "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n\"Nick\"=\"" + QByteArray(name) +
           "\"\r\n";
}

// Every key and value of a parsed hive file, one line each, for comparing with what an import gives.
QByteArrayList dump(const regfile::Hive& hive) {
    QByteArrayList lines;
    for (const regfile::Key& key : hive.keys) {
        lines.append(key.path);
        for (const regfile::Value& value : key.values)
            lines.append("  " + value.name + '=' + QByteArray::number(value.type) + ':' + value.data.toHex());
    }
    return lines;
}

QByteArray utf16(const QString& text) {
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

// Run as a child process: writes its own values into the shared key as fast as it can, one at a
// time ("a", "c", "d") or two in one batch ("b"), and reports every write that returned. A count
// of -1 writes until killed.
int runWriter(const QByteArray& prefix, int count) {
    Registry registry;
    if (!registry.OpenKey(kKey + "\\Concurrency", true))
        return 2;
    for (int i = 0; count < 0 || i < count; i += 2) {
        const QByteArray name = prefix + QByteArray::number(i);
        const QByteArray next = prefix + QByteArray::number(i + 1);
        if (prefix == "b") {
            registry.WriteValues({{name, RegistryValue::fromString(QByteArray::number(i * 3))},
                                  {next, RegistryValue::fromString(QByteArray::number((i + 1) * 3))}});
        } else {
            registry.WriteString(name, QByteArray::number(i * 3));
            registry.WriteString(next, QByteArray::number((i + 1) * 3));
        }
        std::printf("%d\n", i + 1);
        std::fflush(stdout);
    }
    return 0;
}

std::unique_ptr<QProcess> startWriter(const QString& prefix, int count) {
    auto process = std::make_unique<QProcess>();
    process->setReadChannel(QProcess::StandardOutput);
    process->start(QCoreApplication::applicationFilePath(), {u"--registry-writer"_s, prefix, QString::number(count)});
    return process;
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("VESTREL_REGISTRY_DIR", (m_dir->path() + u"/store"_s).toLocal8Bit());
    }

    void writesTheRegeditFormat() {
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, true));
        registry.WriteString("Name", "a \"q\" \\ b");
        registry.WriteInteger("Timer", 10);
        registry.WriteString("", "default");
        QByteArray blob;
        for (int i = 0; i < 100; ++i)
            blob.append(char(i * 5));
        registry.WriteBinaryData("Layout", blob);

        const QByteArray text = hiveText();
        QVERIFY2(text.startsWith("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n"),
                 text.constData());
        QVERIFY(text.contains("\r\n\"Name\"=\"a \\\"q\\\" \\\\ b\"\r\n"));
        QVERIFY(text.contains("\r\n\"Timer\"=dword:0000000a\r\n"));
        QVERIFY(text.contains("\r\n@=\"default\"\r\n"));
        QVERIFY(text.contains("\r\n\"Layout\"=hex:00,05,0a,0f,"));
        const QByteArrayList lines = text.split('\n');
        int continuations = 0;
        for (const QByteArray& line : lines) {
            QVERIFY2(line.size() <= 81, line.constData()); // 80 columns and the CR
            if (line.startsWith("  ")) {
                ++continuations;
                QVERIFY(line.at(2) != ' ');
            }
        }
        QCOMPARE(continuations, 4); // 100 bytes: 21 on the first line, 25 on each further one
        QCOMPARE(registry.ReadBinaryData("layout"), blob);
    }

    void valuesRoundTrip_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("number");
        QTest::newRow("dword zero") << 4 << QByteArray() << 0;
        QTest::newRow("dword ten") << 4 << QByteArray() << 10;
        QTest::newRow("dword minus one") << 4 << QByteArray() << -1;
        QTest::newRow("dword minimum") << 4 << QByteArray() << int(0x80000000);
        QTest::newRow("empty binary") << 3 << QByteArray() << 0;
        QTest::newRow("one byte") << 3 << QByteArray("\xE8") << 0;
        QTest::newRow("long binary") << 3 << QByteArray(1000, '\xFF').append(QByteArray(24, '\0')) << 0;
        QTest::newRow("cp1252 string") << 1 << QByteArray("perch\xE8 \x80 5") << 0;
        QTest::newRow("quotes and backslashes") << 1 << QByteArray("\"C:\\dir\\\"") << 0;
        QTest::newRow("trailing backslash") << 1 << QByteArray("C:\\") << 0;
        QTest::newRow("line breaks") << 1 << QByteArray("one\r\ntwo\n\"three\"") << 0;
        QTest::newRow("embedded nul") << 1 << QByteArray("a\0b", 3) << 0;
        QTest::newRow("empty string") << 1 << QByteArray() << 0;
    }
    void valuesRoundTrip() {
        QFETCH(int, kind);
        QFETCH(QByteArray, data);
        QFETCH(int, number);
        {
            Registry registry;
            QVERIFY(registry.OpenKey(kKey, true));
            registry.WriteString("Before", "b");
            if (kind == 4)
                registry.WriteInteger("V", number);
            else if (kind == 3)
                registry.WriteBinaryData("V", data);
            else
                registry.WriteString("V", data);
            registry.WriteString("After", "a");
        }
        // A fresh reader parses the file as written.
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        if (kind == 4)
            QCOMPARE(registry.ReadInteger("V"), number);
        else if (kind == 3)
            QCOMPARE(registry.ReadBinaryData("V"), data);
        else
            QCOMPARE(registry.ReadString("V"), data);
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"Before", "V", "After"}));
        QCOMPARE(registry.ReadString("After"), QByteArray("a"));
    }

    void namesIgnoreCaseAndKeepTheFirstSpelling() {
        Registry registry;
        QVERIFY(registry.OpenKey("Software\\Pelk Software\\Vestrel\\Chat", true));
        registry.WriteString("Popup", "1");
        QVERIFY(registry.OpenKey("\\SOFTWARE\\pelk software\\VESTREL\\chat", false));
        registry.WriteString("POPUP", "0");
        registry.WriteString("Nick", "anna");
        QCOMPARE(registry.ReadString("popup"), QByteArray("0"));
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"Popup", "Nick"}));
        QVERIFY(hiveText().contains("[HKEY_CURRENT_USER\\Software\\Pelk Software\\Vestrel\\Chat]\r\n\"Popup\"=\"0\""));

        // A new sibling takes its parents' spelling.
        QVERIFY(registry.OpenKey("\\software\\pelk software\\vestrel\\Ricorrenze", true));
        QVERIFY(hiveText().contains("[HKEY_CURRENT_USER\\Software\\Pelk Software\\Vestrel\\Ricorrenze]"));
        QVERIFY(registry.OpenKey("\\Software\\Pelk Software\\Vestrel", false));
        QCOMPARE(registry.GetKeyNames(), QByteArrayList({"Chat", "Ricorrenze"}));
    }

    void keysOpenOnlyWhenTheyExist() {
        Registry registry;
        QVERIFY(!registry.OpenKey(kKey, false));
        QVERIFY(!registry.HasCurrentKey());
        QVERIFY(!QFile::exists(registryHiveFile(RegistryHive::CurrentUser)));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.WriteString("x", "y"));

        QVERIFY(registry.OpenKey(kKey + "\\Chat\\Deep", true));
        QVERIFY(hiveText().contains("[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel\\Chat\\Deep]\r\n\r\n"));
        // Parents exist because a subkey does.
        QVERIFY(registry.KeyExists("\\software"));
        QVERIFY(registry.OpenKey(kKey, false));
        QVERIFY(!registry.ValueExists("Locale"));
        registry.WriteInteger("Locale", 1);
        QVERIFY(registry.DeleteKey(kKey + "\\chat"));
        QVERIFY(!registry.KeyExists(kKey + "\\Chat\\Deep"));
        QVERIFY(!registry.DeleteKey(kKey + "\\chat"));
        QCOMPARE(registry.ReadInteger("Locale"), 1);
        QVERIFY(registry.DeleteValue("LOCALE"));
        QVERIFY(!registry.DeleteValue("Locale"));

        Registry machine(RegistryHive::LocalMachine);
        QVERIFY(!machine.KeyExists(kKey));
    }

    void namesWithLineBreaksAreRefused() {
        Registry registry;
        QVERIFY(!registry.OpenKey(kKey + "\\a\r\n[HKEY_CURRENT_USER\\x]", true));
        QVERIFY(registry.OpenKey(kKey, true));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.WriteString("x\n\"y\"=\"z", "v"));
        registry.WriteString("ok", "line one\r\nline two");
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"ok"}));
        QVERIFY(!registry.KeyExists("\\x"));
    }

    void typesAreChecked() {
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, true));
        registry.WriteString("Timer", "40");
        registry.WriteInteger("Locale", 0);
        QCOMPARE(registry.ReadString("Missing"), QByteArray());
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadInteger("Timer"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadInteger("Missing"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadString("Locale"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadBinaryData("Locale"));
        QCOMPARE(registry.ReadValue("Locale")->type, RegistryType::DWord);
    }

    void everyValueTypeKeepsItsTypeAndData_data() {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("rewritten"); // the line a REGEDIT4 rewrite holds
        for (const bool wide : {false, true}) {
            const char* format = wide ? "5.00" : "REGEDIT4";
            const auto row = [&](const char* name) {
                return &QTest::addRow("%s %s", name, format);
            };
            *row("REG_EXPAND_SZ") << wide
                                  << (wide ? u"hex(2):25,00,50,00,25,00,e8,00,00,00"_s : u"hex(2):25,50,25,e8,00"_s)
                                  << int(RegistryType::ExpandString) << QByteArray("%P%\xE8")
                                  << QByteArray("hex(2):25,50,25,e8,00");
            *row("REG_MULTI_SZ") << wide
                                 << (wide ? u"hex(7):61,00,00,00,62,00,63,00,00,00,00,00"_s
                                          : u"hex(7):61,00,62,63,00,00"_s)
                                 << int(RegistryType::MultiString) << QByteArray("a\0bc\0\0", 6)
                                 << QByteArray("hex(7):61,00,62,63,00,00");
            *row("REG_QWORD") << wide << u"hex(b):01,02,03,04,05,06,07,08"_s << int(RegistryType::QWord)
                              << QByteArray("\1\2\3\4\5\6\7\x08") << QByteArray("hex(b):01,02,03,04,05,06,07,08");
            *row("REG_DWORD_BIG_ENDIAN") << wide << u"hex(5):00,00,00,2a"_s << int(RegistryType::DWordBigEndian)
                                         << QByteArray("\0\0\0\x2a", 4) << QByteArray("hex(5):00,00,00,2a");
            *row("REG_NONE") << wide << u"hex(0):"_s << int(RegistryType::None) << QByteArray()
                             << QByteArray("hex(0):");
            *row("REG_NONE with bytes") << wide << u"hex(0):ff,00"_s << int(RegistryType::None)
                                        << QByteArray("\xFF\0", 2) << QByteArray("hex(0):ff,00");
            *row("unnamed type") << wide << u"hex(1234):01"_s << 0x1234 << QByteArray("\1")
                                 << QByteArray("hex(1234):01");
        }
    }
    void everyValueTypeKeepsItsTypeAndData() {
        QFETCH(bool, wide);
        QFETCH(QString, line);
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, rewritten);
        const QString header = wide ? u"Windows Registry Editor Version 5.00"_s : u"REGEDIT4"_s;
        const QString text =
            header + u"\r\n\r\n[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n\"V\"="_s + line + u"\r\n"_s;
        writeHive(wide ? utf16(text) : text.toLatin1());

        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        const auto value = registry.ReadValue("V");
        QVERIFY(value);
        QCOMPARE(int(value->type), type);
        QCOMPARE(value->data, data);
        // A change of another value rewrites the file (in REGEDIT4): the value keeps type and data.
        registry.WriteString("Other", "x");
        QVERIFY2(hiveText().contains(QByteArray(QByteArray("\r\n\"V\"=") + rewritten + "\r\n")),
                 hiveText().constData());
        QCOMPARE(int(registry.ReadValue("V")->type), type);
        QCOMPARE(registry.ReadValue("V")->data, data);
        // Written back through the store under another name, it reads the same.
        registry.WriteValues({{"Copy", *value}});
        QCOMPARE(int(registry.ReadValue("Copy")->type), type);
        QCOMPARE(registry.ReadValue("Copy")->data, data);
        QVERIFY(hiveText().contains(QByteArray(QByteArray("\r\n\"Copy\"=") + rewritten + "\r\n")));
    }

    void readsOfOtherTypes() {
        writeHive("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n"
                  "\"E\"=hex(2):25,50,25,00\r\n\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n\"B\"=hex(5):00,00,00,01\r\n");
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        // REG_EXPAND_SZ reads as its text, unexpanded; the numbers of other types are not integers.
        QCOMPARE(registry.ReadString("E"), QByteArray("%P%"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadInteger("Q"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadInteger("B"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadString("Q"));
        QCOMPARE(registry.ReadBinaryData("B"), QByteArray("\0\0\0\1", 4));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.ReadBinaryData("E"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.WriteValues({{"X", {RegistryType(0x10000), "a"}}}));
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.WriteValues({{"X", {RegistryType(-1), "a"}}}));
        QVERIFY(!registry.ValueExists("X"));
    }

    void damagedFilesReadAsFarAsTheyMakeSense() {
        writeHive("REGEDIT4\r\n\r\n"
                  "\"Orphan\"=\"no key\"\r\n"
                  "[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n"
                  "\"Good1\"=\"one\"\r\n"
                  "\"OneDigit\"=hex:e8,0\r\n"
                  "\"NotHex\"=hex:zz\r\n"
                  "\"Unterminated\"=\"abc\r\n"
                  "\"BadDword\"=dword:xyz\r\n"
                  "\"LongDword\"=dword:123456789\r\n"
                  "garbage line = here\r\n"
                  "\"NoEquals\" \"x\"\r\n"
                  "\"Good2\"=dword:0000002A\r\n"
                  "\"Wrapped\"=hex:01,02,\\\n"
                  "  03,04,\\\r\n"
                  "  05\r\n"
                  "\"Cut\"=hex:01,02,\\\r\n"
                  "\"Good3\"=hex(1):41,42,00\r\n"
                  "\"Good4\"=\"four\"\r\n"
                  "[HKEY_CURRENT_USER\\unterminated\r\n"
                  "\"Good5\"=\"five\"\r\n");
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        // A '[' without its ']' starts no key: the values after it stay in the key before.
        QCOMPARE(registry.GetValueNames(),
                 QByteArrayList({"Good1", "OneDigit", "Good2", "Wrapped", "Good3", "Good4", "Good5"}));
        QCOMPARE(registry.ReadBinaryData("OneDigit"), QByteArray("\xE8\x00", 2));
        QCOMPARE(registry.ReadString("Good1"), QByteArray("one"));
        QCOMPARE(registry.ReadInteger("Good2"), 42);
        QCOMPARE(registry.ReadBinaryData("Wrapped"), QByteArray("\x01\x02\x03\x04\x05"));
        QCOMPARE(registry.ReadString("Good3"), QByteArray("AB"));
        QCOMPARE(registry.ReadString("Good4"), QByteArray("four"));

        // A change rewrites what was understood and keeps what was not as it was.
        registry.WriteString("Good6", "6");
        QCOMPARE(registry.GetValueNames(),
                 QByteArrayList({"Good1", "OneDigit", "Good2", "Wrapped", "Good3", "Good4", "Good5", "Good6"}));
        const QByteArray after = hiveText();
        for (const char* line : {"\"Orphan\"=\"no key\"\r\n", "\"Unterminated\"=\"abc\r\n",
                                 "\"LongDword\"=dword:123456789\r\n", "garbage line = here\r\n",
                                 "\"Cut\"=hex:01,02,\\\r\n\r\n\"Good3\"", "[HKEY_CURRENT_USER\\unterminated\r\n"})
            QVERIFY2(after.contains(line), line);
    }

    void readsReuseTheParsedHiveWhileTheFileKeepsItsStamp() {
        QVERIFY(QDir().mkpath(registryDirectory()));
        const QDateTime hourAgo = QDateTime::currentDateTimeUtc().addSecs(-3600);
        rewriteHive(hiveWithName("anna"), hourAgo, false);
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        QCOMPARE(registry.ReadString("Nick"), QByteArray("anna"));

        // Same size, time and inode: the parsed copy serves, the file is not read again.
        rewriteHive(hiveWithName("bice"), hourAgo, false);
        QCOMPARE(registry.ReadString("Nick"), QByteArray("anna"));
        // Any part of the stamp that changes makes the next read go to the file.
        rewriteHive(hiveWithName("carl"), hourAgo.addSecs(1), false);
        QCOMPARE(registry.ReadString("Nick"), QByteArray("carl"));
        rewriteHive(hiveWithName("dora"), hourAgo.addSecs(1), true);
        QCOMPARE(registry.ReadString("Nick"), QByteArray("dora"));
        rewriteHive(hiveWithName("elisabetta"), hourAgo.addSecs(1), false);
        QCOMPARE(registry.ReadString("Nick"), QByteArray("elisabetta"));

        // Our own write is seen at once, by this object and by any other of the process.
        registry.WriteString("Nick", "fede");
        QCOMPARE(registry.ReadString("Nick"), QByteArray("fede"));
        Registry other;
        QVERIFY(other.OpenKey(kKey, false));
        QCOMPARE(other.ReadString("nick"), QByteArray("fede"));
    }

    void batchesWriteEverythingOrNothing() {
        Registry registry;
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.WriteValues({{"Nick", RegistryValue::fromString("x")}}));
        QVERIFY(registry.OpenKey(kKey, true));
        registry.WriteString("Popup", "1");

        registry.WriteValues({{"POPUP", RegistryValue::fromString("0")},
                              {"Timer", RegistryValue::fromInteger(-7)},
                              {"Layout", RegistryValue::fromBinary("\x01\x02")},
                              {"timer", RegistryValue::fromInteger(40)}});
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"Popup", "Timer", "Layout"}));
        QCOMPARE(registry.ReadString("Popup"), QByteArray("0"));
        QCOMPARE(registry.ReadInteger("Timer"), 40);
        QCOMPARE(registry.ReadBinaryData("Layout"), QByteArray("\x01\x02"));

        const QByteArray before = hiveText();
        QVERIFY_THROWS_EXCEPTION(RegistryError, registry.WriteValues({{"Nick", RegistryValue::fromString("anna")},
                                                                      {"bad\nname", RegistryValue::fromString("x")}}));
        QCOMPARE(hiveText(), before);
    }

    void unwritableStoreFailsCleanly() {
        QFile blocker(m_dir->path() + u"/store"_s);
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        Registry registry;
        QVERIFY(!registry.OpenKey(kKey, true));
        QVERIFY(!registry.KeyExists(kKey));
    }

    void writersInSeveralProcessesLoseNothing() {
        const QStringList prefixes = {u"a"_s, u"b"_s, u"c"_s, u"d"_s};
        std::vector<std::unique_ptr<QProcess>> writers;
        for (const QString& prefix : prefixes)
            writers.push_back(startWriter(prefix, kValuesPerWriter));
        // A writer waits in the lock's queue, however long others hold it: none is refused.
        for (auto& process : writers) {
            QVERIFY(process->waitForFinished(240000));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
        }
        Registry registry;
        QVERIFY(registry.OpenKey(kKey + "\\Concurrency", false));
        QCOMPARE(registry.GetValueNames().size(), prefixes.size() * kValuesPerWriter);
        for (const QString& prefix : prefixes) {
            for (int i = 0; i < kValuesPerWriter; ++i)
                QCOMPARE(registry.ReadString(prefix.toLatin1() + QByteArray::number(i)), QByteArray::number(i * 3));
        }
        QCOMPARE(QDir(registryDirectory()).entryList(QDir::Files), QStringList({u"HKEY_CURRENT_USER.reg"_s}));
    }

    void killedWriterLosesNothingItReported() {
        auto victim = startWriter(u"a"_s, -1);
        auto survivor = startWriter(u"b"_s, kValuesPerWriter);
        int acknowledged = -1;
        while (acknowledged < 60 && victim->waitForReadyRead(30000)) {
            while (victim->canReadLine())
                acknowledged = victim->readLine().trimmed().toInt();
        }
        QVERIFY(acknowledged >= 60);
        victim->kill();
        QVERIFY(victim->waitForFinished(30000));
        QVERIFY(survivor->waitForFinished(120000));
        QCOMPARE(survivor->exitCode(), 0);

        Registry registry;
        QVERIFY(registry.OpenKey(kKey + "\\Concurrency", false));
        for (int i = 0; i <= acknowledged; ++i)
            QCOMPARE(registry.ReadString("a" + QByteArray::number(i)), QByteArray::number(i * 3));
        for (int i = 0; i < kValuesPerWriter; ++i)
            QCOMPARE(registry.ReadString("b" + QByteArray::number(i)), QByteArray::number(i * 3));
        registry.WriteString("after", "1");
        QCOMPARE(registry.ReadString("after"), QByteArray("1"));
    }

    void readsFilesAsAnImportDoes_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArrayList>("expected");
        const QByteArray head = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n";
        QTest::newRow("escapes") << head + "\"n\"=\"a\\nb\"\r\n\"rn\"=\"a\\r\\nb\"\r\n\"t\"=\"a\\tb\\\\\\\"\"\r\n"
                                 << QByteArrayList({"HKEY_CURRENT_USER\\A", "  n=1:610a62", "  rn=1:610d0a62",
                                                    "  t=1:6174625c22"});
        QTest::newRow("value deleted")
            << head + "\"x\"=\"1\"\r\n\"y\"=\"2\"\r\n\"X\"=-\r\n@=\"d\"\r\n@=-\r\n\"a=b\"=\"3\"\r\n\"a=b\"=-\r\n"
            << QByteArrayList({"HKEY_CURRENT_USER\\A", "  y=1:32"});
        QTest::newRow("key deleted with its subkeys")
            << head + "\"x\"=\"1\"\r\n[HKEY_CURRENT_USER\\A\\B]\r\n[-HKEY_CURRENT_USER\\a]\r\n\"gone\"=\"1\"\r\n"
                      "[HKEY_CURRENT_USER\\A\\C]\r\n\"z\"=\"3\"\r\n"
            << QByteArrayList({"HKEY_CURRENT_USER\\A\\C", "  z=1:33"});
        QTest::newRow("later format in UTF-16")
            << utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
                     u"\"s\"=\"perch\u00e9 \u20ac \u0142\"\r\n\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                     u"\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\"d\"=dword:0000002a\r\n\"b\"=hex:01,02\r\n"_s)
            << QByteArrayList({"HKEY_CURRENT_USER\\A", "  s=1:7065726368e92080203f", "  e=2:254125", "  m=7:6100620000",
                               "  d=4:2a000000", "  b=3:0102"});
        QTest::newRow("the editor's syntax")
            << QByteArray(
                   "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"h1\"=hex: 01,02\r\n\"h2\"=hex:01 ,02\r\n"
                   "\"h3\"=hex:01, 02\r\n\"h4\"=hex:1,2,\r\n\"h5\"=hex:001\r\n\"d1\"=dword: 2a\r\n\"d2\"=dword:2a \r\n"
                   "\"d3\"=dword:\r\n\"s1\"=\"x\" \r\n\"s2\" =\"x\"\r\n\"h6\"=hex :01\r\n\"h7\"=HEX:01\r\n"
                   "\"d4\"=DWORD:01\r\n\"h8\"=hex(1) :41\r\n\"h9\"=hex(  2):41\r\n\"s4\"=\"a\"junk\r\n"
                   "[HKEY_CURRENT_USER\\B ]\r\n\"b\"=\"1\"\r\n[hkey_current_user\\\\C]\r\n\"c\"=\"1\"\r\n"
                   "[ HKEY_CURRENT_USER\\G]\r\n\"g\"=\"1\"\r\n[HKCU\\F]\r\n\"f\"=\"1\"\r\n"
                   "[HKEY_CURRENT_USER\\H\\I]\r\n[-HKEY_CURRENT_USER\\h\\i]\r\n")
            << QByteArrayList({"HKEY_CURRENT_USER\\A", "  h1=3:0102", "  h3=3:0102", "  h4=3:0102", "  h5=3:01",
                               "  d1=4:2a000000", "  d2=4:2a000000", "  s1=1:78", "  s2=1:78", "  h9=2:41",
                               "HKEY_CURRENT_USER\\B ", "  b=1:31", "hkey_current_user\\C", "  c=1:31", "  g=1:31",
                               "HKEY_CURRENT_USER\\H"});
        QTest::newRow("string data in hex stays ANSI in REGEDIT4")
            << head + "\"e\"=hex(2):25,41,25,00\r\n"
            << QByteArrayList({"HKEY_CURRENT_USER\\A", "  e=2:254125"});
    }
    void readsFilesAsAnImportDoes() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArrayList, expected);
        const regfile::Hive hive = regfile::parse(file);
        QCOMPARE(dump(hive), expected);
        // A rewrite (always REGEDIT4) means the same.
        QCOMPARE(dump(regfile::parse(regfile::serialize(hive))), expected);
    }

    void windowsExportServesAsTheStore() {
        // An operator copies an export of the Windows registry editor (its default format) in place.
        writeHive(utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                        u"[HKEY_CURRENT_USER\\Software\\Pelk Software\\Vestrel]\r\n"
                        u"\"Locale\"=dword:00000001\r\n\"Nick\"=\"Niccol\u00f2\"\r\n"
                        u"\"Path\"=hex(2):43,00,3a,00,5c,00,00,00\r\n"_s));
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        QCOMPARE(registry.ReadInteger("Locale"), 1);
        QCOMPARE(registry.ReadString("Nick"), QByteArray("Niccol\xF2"));
        QCOMPARE(registry.ReadString("Path"), QByteArray("C:\\"));
        registry.WriteString("Host", "srv");
        QVERIFY(hiveText().startsWith("REGEDIT4\r\n"));
        QVERIFY(hiveText().contains("\"Nick\"=\"Niccol\xF2\"\r\n"));
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"Locale", "Nick", "Path", "Host"}));
        QCOMPARE(registry.ReadString("Path"), QByteArray("C:\\"));
    }

    void rewriteReadsBackTheSameHive_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray key = "[HKEY_CURRENT_USER\\A]\r\n";
        // Found by fuzzing.
        QTest::newRow("kept line ending in a backslash")
            << "REGEDIT4\r\n\r\n\"Cut\"=hex:01,\\\r\n\r\n\rjunk\r\n" + key + "\"Cut\"=hex:01,\\\r\n\r\nmore\r\n";
        QTest::newRow("key repeated after a key no import opens")
            << "REGEDIT4\r\n\r\n" + key + "\"a\"=\"1\"\r\njunk\r\n\"b\"=\"2\"\r\n[HKCU\\x]\r\nlost\r\n" + key +
                   "\"a\"=\"3\"\r\nmore junk\r\n[HKCU\\y]\r\n";
        QTest::newRow("value name with escaped line breaks") << "REGEDIT4\r\n\r\n" + key + "\"x\\ny\\rz\"=\"1\"\r\n";
        QTest::newRow("long hex value whose name holds an equals sign")
            << "REGEDIT4\r\n\r\n" + key + "\"a=\"=\"1" + QByteArray(25, '\0') + "\"\r\nnot a value\r\n";
    }
    void rewriteReadsBackTheSameHive() {
        QFETCH(QByteArray, file);
        const regfile::Hive first = regfile::parse(file);
        const regfile::Hive second = regfile::parse(regfile::serialize(first));
        QCOMPARE(dump(second), dump(first));
        QCOMPARE(second.preamble, first.preamble);
        QCOMPARE(second.keys.size(), first.keys.size());
        for (std::size_t k = 0; k < first.keys.size(); ++k) {
            QCOMPARE(second.keys[k].kept.size(), first.keys[k].kept.size());
            for (std::size_t l = 0; l < first.keys[k].kept.size(); ++l) {
                QCOMPARE(second.keys[k].kept[l].text, first.keys[k].kept[l].text);
                QCOMPARE(second.keys[k].kept[l].before, first.keys[k].kept[l].before);
            }
        }
    }

    void linesNotUnderstoodSurviveARewrite() {
        const QByteArrayList odd = {"; a comment at the top", "\"Orphan\"=\"no key\""};
        const QByteArrayList inKey = {"; about Good", "\"Unterminated\"=\"abc", "garbage line = here",
                                      "\"Cut\"=hex:01,02,\\\r\n  zz"};
        const QByteArrayList after = {"[HKCU\\no root an import knows]", "\"Lost\"=\"x\""};
        writeHive("REGEDIT4\r\n\r\n" + odd.join("\r\n") +
                  "\r\n[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n" + inKey[0] +
                  "\r\n\"Good\"=\"1\"\r\n" + inKey[1] + "\r\n" + inKey[2] + "\r\n\"Second\"=\"2\"\r\n" + inKey[3] +
                  "\r\n" + after.join("\r\n") + "\r\n");
        Registry registry;
        QVERIFY(registry.OpenKey(kKey, false));
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"Good", "Second"}));
        registry.WriteString("New", "3");
        QVERIFY(registry.DeleteValue("Good"));
        QCOMPARE(hiveText(), "REGEDIT4\r\n\r\n" + odd.join("\r\n") +
                                 "\r\n\r\n[HKEY_CURRENT_USER\\software\\Pelk Software\\Vestrel]\r\n" + inKey[0] +
                                 "\r\n" + inKey[1] + "\r\n" + inKey[2] + "\r\n\"Second\"=\"2\"\r\n" + inKey[3] +
                                 "\r\n\"New\"=\"3\"\r\n" + after.join("\r\n") + "\r\n\r\n");
        QCOMPARE(registry.GetValueNames(), QByteArrayList({"Second", "New"}));
    }
};

int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--registry-writer") == 0) {
        QCoreApplication app(argc, argv);
        try {
            return runWriter(argv[2], QByteArray(argv[3]).toInt());
        } catch (const RegistryError& e) {
            fprintf(stderr, "%s\n", e.what());
            return 3;
        }
    }
    QCoreApplication app(argc, argv);
    TestRegistry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registry.moc"
