#include "platform/ElfSection.h"
#include "platform/FileVersionInfo.h"
#include "platform/VersionBlock.h"
#include "tests/support/TestFiles.h"
#include "tests/versioninfo/VersionBlockWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::testing;

namespace {

const QString kFixtures = QStringLiteral(VESTREL_VERSION_FIXTURES);

QString binFile(const QString& name) {
    return qEnvironmentVariable("VESTREL_BIN_DIR") + u'/' + name;
}

QByteArray blockOf(const QString& path) {
    QByteArray block;
    const std::uint32_t size = GetFileVersionInfoSizeA(path);
    if (size == 0 || !GetFileVersionInfoA(path, size, block))
        return QByteArray();
    return block;
}

// The cp1252 text of a string value, or "<none>" when the query fails.
QByteArray query(const QByteArray& block, const QByteArray& path) {
    const auto value = VerQueryValueA(block, path);
    return value ? value->data : QByteArray("<none>");
}

std::uint32_t dword(const QByteArray& bytes, int field) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + field * 4);
}

// A block with one table of the given entries, under translation 0409/04E4.
QByteArray tableBlock(std::vector<VersionNodeSpec> entries) {
    return versionBlock(
        {parentNode(u"StringFileInfo"_s, {parentNode(u"040904E4"_s, std::move(entries))}),
         parentNode(u"VarFileInfo"_s, {binaryNode(u"Translation"_s, translationValue({{0x409, 1252}}))})});
}

} // namespace

class TestVersionQuery : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;
    QString m_textFile = m_scratch.filePath(u"readme.txt"_s);
    QString m_pipe = m_scratch.filePath(u"pipe"_s);

private slots:
    void initTestCase() {
        writeFile(m_textFile, "MZ is not enough to make a program.\n");
        QCOMPARE(::mkfifo(QFile::encodeName(m_pipe).constData(), 0600), 0);
    }

    void readsPeFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("program") << u"app.exe"_s << QByteArray("\\StringFileInfo\\041004E4\\CompanyName")
                                 << QByteArray("Pelk Software");
        QTest::newRow("cp1252 text") << u"app.exe"_s << QByteArray("\\StringFileInfo\\041004E4\\LegalCopyright")
                                     << QByteArray("\xA9 Pelk \x97 \xE8 cos\xEC");
        QTest::newRow("outside cp1252") << u"app.exe"_s << QByteArray("\\StringFileInfo\\041004E4\\Comments")
                                        << QByteArray("? fuori");
        QTest::newRow("keys without case")
            << u"app.exe"_s << QByteArray("\\stringfileinfo\\041004e4\\COMPANYNAME") << QByteArray("Pelk Software");
        QTest::newRow("stored in lower case")
            << u"quirks.dll"_s << QByteArray("\\StringFileInfo\\040904E4\\CompanyName")
            << QByteArray("Pelk Software Inc.");
        QTest::newRow("second table") << u"quirks.dll"_s << QByteArray("\\StringFileInfo\\041004E4\\CompanyName")
                                      << QByteArray("Pelk Software S.r.l.");
        QTest::newRow("empty value") << u"quirks.dll"_s << QByteArray("\\StringFileInfo\\040904E4\\LegalTrademarks")
                                     << QByteArray();
        QTest::newRow("missing key") << u"quirks.dll"_s << QByteArray("\\StringFileInfo\\040904E4\\FileVersion")
                                     << QByteArray("<none>");
        QTest::newRow("missing table") << u"app.exe"_s << QByteArray("\\StringFileInfo\\040904E4\\CompanyName")
                                       << QByteArray("<none>");
        QTest::newRow("32-bit file") << u"pe32.dll"_s << QByteArray("\\StringFileInfo\\040904B0\\FileVersion")
                                     << QByteArray("2.1 beta");
    }
    void readsPeFiles() {
        QFETCH(QString, file);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, expected);
        const QByteArray block = blockOf(kFixtures + u'/' + file);
        QVERIFY(!block.isEmpty());
        QCOMPARE(query(block, path), expected);
    }

    void readsFixedInfoAndTranslations() {
        const QByteArray app = blockOf(kFixtures + u"/app.exe"_s);
        const auto root = VerQueryValueA(app, "\\");
        QVERIFY(root);
        QCOMPARE(root->length, 52u);
        QCOMPARE(dword(root->data, 0), FixedFileInfo::kSignature);
        QCOMPARE(dword(root->data, 2), 0x3000Au); // 3.10
        QCOMPARE(dword(root->data, 3), 0x20000u); // .2.0
        QCOMPARE(dword(root->data, 7), 0x21u);
        QCOMPARE(dword(root->data, 8), 0x40004u);

        const QByteArray quirks = blockOf(kFixtures + u"/quirks.dll"_s);
        const auto translation = VerQueryValueA(quirks, "\\VarFileInfo\\Translation");
        QVERIFY(translation);
        QCOMPARE(translation->length, 8u);
        QCOMPARE(versionTranslations(quirks), (std::vector<VersionTranslation>{{0x409, 1252}, {0x410, 1252}}));
        QCOMPARE(versionTranslations(quirks).front().id(), u"040904E4"_s);
        QVERIFY(!VerQueryValueA(blockOf(kFixtures + u"/notrans.dll"_s), "\\VarFileInfo\\Translation"));
    }

    void stringLengthsCountCharacters() {
        const QByteArray block =
            tableBlock({textNode(u"A"_s, u"abc"_s), textNode(u"Empty"_s, QString()), parentNode(u"NoValue"_s, {})});
        QCOMPARE(VerQueryValueA(block, "\\StringFileInfo\\040904E4\\A")->length, 4u);
        QCOMPARE(VerQueryValueA(block, "\\StringFileInfo\\040904E4\\Empty")->length, 1u);
        QCOMPARE(VerQueryValueA(block, "\\StringFileInfo\\040904E4\\NoValue")->length, 0u);
    }

    void readsOurOwnPrograms() {
        const QByteArray block = blockOf(binFile(u"chatserver"_s));
        QVERIFY(!block.isEmpty());
        QCOMPARE(query(block, "\\StringFileInfo\\041004E4\\OriginalFilename"), QByteArray("chatserver"));
        QCOMPARE(query(block, "\\StringFileInfo\\041004E4\\LegalCopyright"),
                 QByteArray("Copyright \xA9 Pelk Software"));
        QCOMPARE(dword(VerQueryValueA(block, "\\")->data, 9), 1u); // an application
        // The Windows-style spelling of the same path.
        QCOMPARE(GetFileVersionInfoSizeA(binFile(u"chatserver"_s).replace(u'/', u'\\')), std::uint32_t(block.size()));
    }

    void filesWithoutVersionInformation_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        using S = VersionResourceRead::Status;
        QTest::newRow("missing") << u"/nonexistent/file.exe"_s << int(S::Unreadable);
        QTest::newRow("directory") << QDir::tempPath() << int(S::Unreadable);
        QTest::newRow("special file") << u"/dev/null"_s << int(S::Unreadable);
        QTest::newRow("pipe without writer") << m_pipe << int(S::Unreadable); // must not wait
        QTest::newRow("text file") << m_textFile << int(S::NotAProgram);
        QTest::newRow("PE without version") << binFile(u"VE_ita.dll"_s) << int(S::NoVersionInfo);
        QTest::newRow("PE") << kFixtures + u"/app.exe"_s << int(S::Found);
        QTest::newRow("ELF") << binFile(u"chatserver"_s) << int(S::Found);
    }
    void filesWithoutVersionInformation() {
        QFETCH(QString, path);
        QFETCH(int, status);
        const VersionResourceRead read = readVersionResource(path);
        QCOMPARE(int(read.status), status);
        QCOMPARE(read.error.isEmpty(), status == int(VersionResourceRead::Status::Found) ||
                                           status == int(VersionResourceRead::Status::NoVersionInfo));
        if (read.status != VersionResourceRead::Status::Found) {
            QCOMPARE(GetFileVersionInfoSizeA(path), 0u);
            QByteArray data("untouched");
            QVERIFY(!GetFileVersionInfoA(path, 100, data));
            QCOMPARE(data, QByteArray("untouched"));
        }
    }

    void readsAtMostTheBufferSize() {
        QByteArray data;
        QVERIFY(GetFileVersionInfoA(kFixtures + u"/app.exe"_s, 40, data));
        QCOMPARE(data.size(), 40);
        QVERIFY(!VerQueryValueA(data, "\\StringFileInfo")); // cut off: not there, no read beyond
    }

    void quirksOfRealFiles() {
        // wValueLength in bytes instead of words: the text still ends at its NUL.
        VersionNodeSpec bytesCounted = textNode(u"CompanyName"_s, u"Pelk"_s);
        bytesCounted.valueLength = 10;
        // A binary value of odd length: the next node starts on the next 32-bit boundary.
        const VersionNodeSpec odd = binaryNode(u"Odd"_s, QByteArray("\x01\x02\x03", 3));
        // A text without NUL runs to the end of its node.
        VersionNodeSpec unterminated = textNode(u"Open"_s, u"xy"_s);
        unterminated.value.chop(2);
        const QByteArray block = tableBlock({bytesCounted, odd, textNode(u"After"_s, u"next"_s), unterminated});
        QCOMPARE(query(block, "\\StringFileInfo\\040904E4\\CompanyName"), QByteArray("Pelk"));
        QCOMPARE(query(block, "\\StringFileInfo\\040904E4\\Odd"), QByteArray("\x01\x02\x03", 3));
        QCOMPARE(query(block, "\\StringFileInfo\\040904E4\\After"), QByteArray("next"));
        QCOMPARE(query(block, "\\StringFileInfo\\040904E4\\Open"), QByteArray("xy"));
        // Path spellings: repeated and missing separators, the root as "" or "\".
        QCOMPARE(query(block, "StringFileInfo\\\\040904E4\\After\\"), QByteArray("next"));
        QCOMPARE(VerQueryValueA(block, "")->length, 52u);

        // wLength 0 ends the list it is in.
        VersionNodeSpec stop = textNode(u"Stop"_s, u"x"_s);
        stop.zeroLength = true;
        const QByteArray stopped = tableBlock({textNode(u"Before"_s, u"a"_s), stop, textNode(u"Later"_s, u"b"_s)});
        QCOMPARE(query(stopped, "\\StringFileInfo\\040904E4\\Before"), QByteArray("a"));
        QCOMPARE(query(stopped, "\\StringFileInfo\\040904E4\\Later"), QByteArray("<none>"));
        QCOMPARE(versionTranslations(stopped).size(), 1u); // the sibling list above is not cut

        // Lengths larger than what is there are clamped to the node and to the block.
        VersionNodeSpec tooLong = textNode(u"Long"_s, u"value"_s);
        tooLong.valueLength = 4000;
        tooLong.lengthDelta = 30000;
        const QByteArray clamped = tableBlock({textNode(u"First"_s, u"1"_s), tooLong});
        QCOMPARE(query(clamped, "\\StringFileInfo\\040904E4\\Long"), QByteArray("value"));
        QCOMPARE(query(clamped, "\\StringFileInfo\\040904E4\\First"), QByteArray("1"));

        // A root without fixed info: the root query succeeds with nothing in it.
        const QByteArray bare = versionBlock({}, QByteArray());
        QCOMPARE(VerQueryValueA(bare, "\\")->length, 0u);
        QCOMPARE(FixedFileInfo::fromBytes(QByteArray("\xBD\x04", 2)).signature, 0u);
    }

    void hostileBlocks_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("too short for a node") << QByteArray("\x10\x00\x00", 3);
        QTest::newRow("wLength below a header") << QByteArray("\x04\x00\x00\x00\x00\x00\x00\x00", 8);
        QTest::newRow("root of zero length") << QByteArray(64, '\0');
        QTest::newRow("all ones") << QByteArray(512, '\xFF');
        QByteArray selfNested(256, '\0');
        for (int at = 0; at < 256; at += 8) // a node whose every child is again such a node
            selfNested.replace(at, 8, QByteArray("\xF8\x00\x00\x00\x01\x00\x00\x00", 8));
        QTest::newRow("nested nodes") << selfNested;
    }
    void hostileBlocks() {
        QFETCH(QByteArray, block);
        // Whatever comes back, nothing is read outside the block (the sanitizer builds check that).
        VerQueryValueA(block, "\\");
        VerQueryValueA(block, "\\StringFileInfo\\040904E4\\CompanyName");
        versionTranslations(block);
        if (const auto root = readVersionBlock(block)) {
            for (const VersionNode& child : root->children())
                child.children();
        }
    }

    void everyTruncationIsSafe() {
        const QList<QByteArray> blocks = {blockOf(kFixtures + u"/quirks.dll"_s), blockOf(binFile(u"chatserver"_s))};
        for (const QByteArray& whole : blocks) {
            QVERIFY(!whole.isEmpty());
            for (qsizetype length = 0; length <= whole.size(); ++length) {
                const QByteArray cut = whole.left(length); // its own allocation, so overreads show
                VerQueryValueA(cut, "\\StringFileInfo\\041004E4\\CompanyName");
                VerQueryValueA(cut, "\\StringFileInfo\\040904E4\\ProductName");
                versionTranslations(cut);
            }
        }
    }

    void filesReadPageByPageAsWhole() {
        // app.exe's version block crosses a 4 KiB boundary of the file.
        for (const QString& path :
             QStringList{kFixtures + u"/app.exe"_s, kFixtures + u"/pe32.dll"_s, binFile(u"chatserver"_s)}) {
            const VersionResourceRead fromFile = readVersionResource(path);
            QCOMPARE(fromFile.status, VersionResourceRead::Status::Found);
            QCOMPARE(fromFile.block, readVersionResourceFromImage(readFile(path)).block);
        }
    }

    void truncatedFilesOnDisk() {
        const QByteArray whole = readFile(kFixtures + u"/app.exe"_s);
        const QString path = m_scratch.filePath(u"cut.exe"_s);
        for (qsizetype length = 0; length <= whole.size(); length += 13) {
            writeFile(path, whole.left(length));
            const VersionResourceRead read = readVersionResource(path);
            QVERIFY(read.status != VersionResourceRead::Status::Unreadable);
            // The file read in pieces gives what the whole image gives.
            QCOMPARE(read.block, readVersionResourceFromImage(whole.left(length)).block);
            VerQueryValueA(read.block, "\\StringFileInfo\\041004E4\\CompanyName");
        }
    }

    void damagedFilesOnDiskReadAsWhole() {
        // Bytes changed at random in the headers and the resource section: the lookup reads ranges of
        // any length at any offset, across the pages and the resource section read ahead.
        const QString path = m_scratch.filePath(u"damaged.dll"_s);
        for (const QString& name : {u"app.exe"_s, u"pe32.dll"_s, u"quirks.dll"_s, u"app.exe:large"_s}) {
            QByteArray whole = readFile(kFixtures + u'/' + name.section(u':', 0, 0));
            if (name.endsWith(u":large"_s)) {
                // A resource section too large to read ahead: every read goes page by page.
                const auto pe = qFromLittleEndian<std::uint32_t>(whole.constData() + 0x3C);
                const qsizetype optional = pe + 24;
                const bool wide = qFromLittleEndian<std::uint16_t>(whole.constData() + optional) == 0x20B;
                const qsizetype resourceSize = optional + (wide ? 112 : 96) + 2 * 8 + 4;
                qToLittleEndian<std::uint32_t>(0x00100000, whole.data() + resourceSize);
            }
            std::uint32_t seed = 12;
            const auto random = [&seed](std::uint32_t below) {
                seed = seed * 1103515245u + 12345u;
                return (seed >> 8) % below;
            };
            for (int round = 0; round < 300; ++round) {
                QByteArray damaged = whole;
                for (int i = 0, n = int(random(6)) + 1; i < n; ++i) {
                    // Half in the headers, half anywhere.
                    const auto room =
                        std::uint32_t(random(2) ? std::min<qsizetype>(damaged.size(), 1024) : damaged.size());
                    damaged[qsizetype(random(room))] = char(random(256));
                }
                writeFile(path, damaged);
                const VersionResourceRead read = readVersionResource(path);
                const VersionResourceRead expected = readVersionResourceFromImage(damaged);
                QCOMPARE(read.status, expected.status);
                QCOMPARE(read.block, expected.block);
            }
        }
    }

    void readsElfSections_data() {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<bool>("bigEndian");
        QTest::newRow("64-bit") << true << false;
        QTest::newRow("32-bit") << false << false;
        QTest::newRow("64-bit big-endian") << true << true;
        QTest::newRow("32-bit big-endian") << false << true;
    }
    void readsElfSections() {
        QFETCH(bool, wide);
        QFETCH(bool, bigEndian);
        const QByteArray block = tableBlock({textNode(u"CompanyName"_s, u"Pelk"_s)});
        const QByteArray image = elfImage(block, kElfVersionSection, wide, bigEndian);
        QCOMPARE(elfSection(image, kElfVersionSection)->toByteArray(), block);
        QVERIFY(!elfSection(image, ".version"));
        const VersionResourceRead read = readVersionResourceFromImage(image);
        QCOMPARE(read.status, VersionResourceRead::Status::Found);
        QCOMPARE(query(read.block, "\\StringFileInfo\\040904E4\\CompanyName"), QByteArray("Pelk"));
        // A section padded beyond its block: the block's own length counts.
        const QByteArray padded = elfImage(block + QByteArray(32, '\xAA'), kElfVersionSection, wide, bigEndian);
        QCOMPARE(readVersionResourceFromImage(padded).block, block);
        QCOMPARE(readVersionResourceFromImage(elfImage(block, ".text", wide, bigEndian)).status,
                 VersionResourceRead::Status::NoVersionInfo);
    }

    void damagedElfFiles() {
        const QByteArray elf = elfImage(tableBlock({textNode(u"A"_s, u"b"_s)}), kElfVersionSection);
        for (qsizetype length = 0; length <= elf.size(); ++length)
            elfSection(elf.left(length), kElfVersionSection); // own allocations, so overreads show
        const auto damaged = [&](qsizetype at, const QByteArray& bytes) {
            QByteArray copy = elf;
            copy.replace(at, bytes.size(), bytes);
            return elfSection(copy, kElfVersionSection);
        };
        QVERIFY(!damaged(0x28, QByteArray("\xF0\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8))); // table far away
        QVERIFY(!damaged(0x3E, QByteArray("\xFF\xFF", 2)));                         // names index too big
        QVERIFY(!damaged(0x3A, QByteArray("\x08\x00", 2)));                         // entries too small
        QVERIFY(!damaged(4, QByteArray("\x03", 1)));                                // no such class
        const qsizetype table = qFromLittleEndian<qint64>(elf.constData() + 0x28);
        // The section's offset beyond the file, its size beyond the file, its name beyond the names.
        QVERIFY(!damaged(table + 64 + 24, QByteArray("\xFF\xFF\xFF\xFF\x00\x00\x00\x00", 8)));
        QCOMPARE(damaged(table + 64 + 32, QByteArray("\xFF\xFF\xFF\xFF\x00\x00\x00\x00", 8))->size(), elf.size() - 64);
        QVERIFY(!damaged(table + 64, QByteArray("\xFF\xFF\x00\x00", 4)));
        QVERIFY(!elfSection(QByteArray("\x7F"
                                       "ELF",
                                       4),
                            kElfVersionSection));

        // Our own program carries its block.
        QVERIFY(elfSection(readFile(binFile(u"chatserver"_s)), kElfVersionSection));
    }
};

QTEST_GUILESS_MAIN(TestVersionQuery)
#include "tst_versionquery.moc"
