#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace vestrel;

class TestText : public QObject {
    Q_OBJECT

private slots:
    void everyByteSurvivesARoundTrip() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = cp1252::toUnicode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(cp1252::fromUnicode(text), all);
    }

    void mapsTheWindowsBlock_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("codePoint");
        QTest::newRow("euro") << 0x80 << 0x20AC;
        QTest::newRow("undefined 81") << 0x81 << 0x81;
        QTest::newRow("undefined 8D") << 0x8D << 0x8D;
        QTest::newRow("undefined 8F") << 0x8F << 0x8F;
        QTest::newRow("undefined 90") << 0x90 << 0x90;
        QTest::newRow("undefined 9D") << 0x9D << 0x9D;
        QTest::newRow("left quote") << 0x93 << 0x201C;
        QTest::newRow("Y diaeresis") << 0x9F << 0x178;
        QTest::newRow("e grave") << 0xE8 << 0xE8;
        QTest::newRow("nbsp") << 0xA0 << 0xA0;
    }
    void mapsTheWindowsBlock() {
        QFETCH(int, byte);
        QFETCH(int, codePoint);
        QCOMPARE(cp1252::toUnicode(QByteArray(1, char(byte))), QString(QChar(codePoint)));
    }

    void unmappableCharactersBecomeQuestionMarks() {
        // U+0080 is a C1 control that cp1252 puts elsewhere; the emoji is one character of two units.
        QCOMPARE(cp1252::fromUnicode(u"a\u0080b\u03A9c"_s), QByteArray("a?b?c"));
        QCOMPARE(cp1252::fromUnicode(u"x\U0001F600y"_s), QByteArray("x?y"));
        QCOMPARE(cp1252::fromUnicode(QString(QChar(0xD800)) + u"z"_s), QByteArray("?z"));
        QCOMPARE(cp1252::fromUnicode(u"perché €"_s), QByteArray("perch\xE9 \x80"));
    }

    void namesTheCharactersTypedTextCannotKeep() {
        QCOMPARE(cp1252::unrepresentable(u"Perché 5 € – “ok”"_s), QStringList());
        // Each character once, in order; an emoji is one character, not two halves.
        QCOMPARE(cp1252::unrepresentable(u"a→b漢→c\U0001F600"_s), (QStringList{u"→"_s, u"漢"_s, u"\U0001F600"_s}));
        // A lone half of a surrogate pair cannot be stored either.
        QCOMPARE(cp1252::unrepresentable(QString(QChar(0xD800))), QStringList{QString(QChar(0xD800))});
    }

    void comparesNamesWithoutCase() {
        QVERIFY(cp1252::equalsIgnoreCase("Count", "count"));
        QVERIFY(cp1252::equalsIgnoreCase("PERCH\xC9", "perch\xE9"));
        QVERIFY(!cp1252::equalsIgnoreCase("count", "counts"));
        QVERIFY(!cp1252::equalsIgnoreCase("a\xE8", "a\xE9"));
    }

    void localPathsAcceptWindowsSeparators_data() {
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("local");
        QTest::newRow("doubled separator") << u"/opt/vestrel/\\gruppi.ini"_s << u"/opt/vestrel/gruppi.ini"_s;
        QTest::newRow("backslashes") << u"C:\\dati\\a.gdb"_s << u"C:/dati/a.gdb"_s;
        QTest::newRow("runs collapse") << u"a\\\\\\b//c"_s << u"a/b/c"_s;
        QTest::newRow("plain") << u"/tmp/x.ini"_s << u"/tmp/x.ini"_s;
    }
    void localPathsAcceptWindowsSeparators() {
        QFETCH(QString, windows);
        QFETCH(QString, local);
        QCOMPARE(localPath(windows), local);
    }

    void programDirectoryFollowsTheOverride() {
        QTemporaryDir dir;
        qputenv("VESTREL_PROGRAM_DIR", dir.path().toLocal8Bit());
        QCOMPARE(programDirectory(), dir.path() + u'/');
        QCOMPARE(programFile(u"\\gruppi.ini"_s), dir.path() + u"/gruppi.ini"_s);
        qunsetenv("VESTREL_PROGRAM_DIR");
        QCOMPARE(programDirectory(), QCoreApplication::applicationDirPath() + u'/');
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
