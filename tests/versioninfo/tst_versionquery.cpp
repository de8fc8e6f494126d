#include "platform/Cp1252.h"
#include "platform/ElfSection.h"
#include "platform/FileName.h"
#include "platform/FileVersionInfo.h"
#include "platform/ResourceLanguage.h"
#include "platform/VersionBlock.h"
#include "tests/support/TestFiles.h"
#include "tests/versioninfo/VersionBlockWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

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
        QTest::addColumn<bool>("hasRoot");
        QTest::addColumn<int>("depth"); // of the deepest chain of nodes
        QTest::newRow("empty") << QByteArray() << false << 0;
        QTest::newRow("too short for a node") << QByteArray("\x10\x00\x00", 3) << false << 0;
        QTest::newRow("wLength below a header") << QByteArray("\x04\x00\x00\x00\x00\x00\x00\x00", 8) << false << 0;
        QTest::newRow("root of zero length") << QByteArray(64, '\0') << false << 0;
        // wLength 0xFFFF clamped to the 512 bytes; a key without NUL takes them all.
        QTest::newRow("all ones") << QByteArray(512, '\xFF') << true << 1;
        QByteArray selfNested(256, '\0');
        for (int at = 0; at < 256; at += 8) // a node whose every child is again such a node
            selfNested.replace(at, 8, QByteArray("\xF8\x00\x00\x00\x01\x00\x00\x00", 8));
        // Each node starts 8 bytes into its parent and ends where the root ends: 248 / 8 of them.
        QTest::newRow("nested nodes") << selfNested << true << 31;
    }
    void hostileBlocks() {
        QFETCH(QByteArray, block);
        QFETCH(bool, hasRoot);
        QFETCH(int, depth);
        const auto root = readVersionBlock(block);
        QCOMPARE(root.has_value(), hasRoot);
        QCOMPARE(VerQueryValueA(block, "\\").has_value(), hasRoot);
        QVERIFY(!VerQueryValueA(block, "\\StringFileInfo\\040904E4\\CompanyName"));
        QVERIFY(versionTranslations(block).empty());
        if (!root)
            return;
        QCOMPARE(VerQueryValueA(block, "\\")->length, 0u); // no fixed info in any of them
        // Every node lies within its parent, and the chains end.
        int deepest = 0;
        const auto within = [&](QByteArrayView inner, qsizetype begin, qsizetype end) {
            const qsizetype at = inner.data() - block.constData();
            return inner.isEmpty() || (at >= begin && at + inner.size() <= end);
        };
        const auto walk = [&](auto&& self, const VersionNode& node, int level) -> void {
            QVERIFY(level <= block.size() / 6); // a node takes at least its 6-byte header
            deepest = std::max(deepest, level);
            QVERIFY(node.childBegin <= node.childEnd && node.childEnd <= block.size());
            QVERIFY(within(node.value, 0, node.childEnd));
            for (const VersionNode& child : node.children()) {
                QVERIFY(within(child.value, node.childBegin, node.childEnd));
                QVERIFY(child.childBegin >= node.childBegin && child.childEnd <= node.childEnd);
                self(self, child, level + 1);
            }
        };
        walk(walk, *root, 1);
        QCOMPARE(deepest, depth);
    }

    void truncatedBlocksReadAsPrefixesOfTheWhole() {
        // A block cut anywhere gives, for every value of the whole block, nothing or a beginning of the
        // value, and the whole value once the cut lies past its end; its translations are the first
        // ones of the whole block's. Nothing is ever read that the whole block does not hold.
        const QList<QByteArray> blocks = {blockOf(kFixtures + u"/quirks.dll"_s), blockOf(kFixtures + u"/app.exe"_s),
                                          blockOf(binFile(u"chatserver"_s))};
        for (const QByteArray& whole : blocks) {
            QVERIFY(!whole.isEmpty());
            struct Leaf {
                QByteArray path;
                QByteArray value;
                qsizetype end; // where the value ends in the block
            };
            std::vector<Leaf> leaves;
            const auto root = readVersionBlock(whole);
            QVERIFY(root);
            leaves.push_back({"\\", QByteArray(root->value.data(), root->value.size()),
                              root->value.data() + root->value.size() - whole.constData()});
            const auto collect = [&](auto&& self, const VersionNode& node, const QByteArray& path) -> void {
                for (const VersionNode& child : node.children()) {
                    const QByteArray childPath = path + '\\' + cp1252::fromUnicode(child.key);
                    const auto value = VerQueryValueA(whole, childPath);
                    QVERIFY(value);
                    leaves.push_back({childPath, value->data, child.childEnd});
                    self(self, child, childPath);
                }
            };
            collect(collect, *root, QByteArray());
            QVERIFY(leaves.size() > 8);
            const auto translations = versionTranslations(whole);
            QVERIFY(!translations.empty());

            for (qsizetype length = 0; length <= whole.size(); ++length) {
                const QByteArray cut = whole.left(length); // its own allocation, so overreads show
                for (const Leaf& leaf : leaves) {
                    const auto value = VerQueryValueA(cut, leaf.path);
                    if (length >= leaf.end) {
                        QVERIFY2(value && value->data == leaf.value,
                                 qPrintable(u"%1 cut at %2"_s.arg(QString::fromLatin1(leaf.path)).arg(length)));
                    } else if (value) {
                        QVERIFY2(leaf.value.startsWith(value->data),
                                 qPrintable(u"%1 cut at %2"_s.arg(QString::fromLatin1(leaf.path)).arg(length)));
                    }
                }
                const auto cutTranslations = versionTranslations(cut);
                QVERIFY(cutTranslations.size() <= translations.size());
                QVERIFY(std::equal(cutTranslations.begin(), cutTranslations.end(), translations.begin()));
            }
        }
    }

    void refusesMoreSectionsThanWindowsLoads() {
        // A PE file with 65 535 section headers, each mapping the resource section: a reader that walks
        // them all for every address it maps does not come back for minutes.
        const QByteArray app = readFile(kFixtures + u"/app.exe"_s);
        const auto u16 = [](const QByteArray& b, qsizetype at) {
            return qFromLittleEndian<std::uint16_t>(b.constData() + at);
        };
        const auto u32 = [](const QByteArray& b, qsizetype at) {
            return qFromLittleEndian<std::uint32_t>(b.constData() + at);
        };
        const qsizetype fileHeader = u32(app, 0x3C) + 4;
        const int count = u16(app, fileHeader + 2);
        const qsizetype table = fileHeader + 20 + u16(app, fileHeader + 16);
        const auto withSections = [&](int sections) -> QByteArray {
            const qsizetype shift = ((qsizetype(sections - count) * 40 + 511) / 512) * 512;
            QByteArray image = app.left(table);
            qToLittleEndian<std::uint16_t>(std::uint16_t(sections), image.data() + fileHeader + 2);
            QByteArray headers = app.mid(table, count * 40);
            for (int i = count; i < sections; ++i) // copies of the last one, at addresses of their own
                headers += app.mid(table + (count - 1) * 40, 40);
            for (int i = 0; i < sections; ++i) {
                char* header = headers.data() + i * 40;
                if (qFromLittleEndian<std::uint32_t>(header + 20) != 0)
                    qToLittleEndian<std::uint32_t>(qFromLittleEndian<std::uint32_t>(header + 20) + std::uint32_t(shift),
                                                   header + 20);
                if (i >= count)
                    qToLittleEndian<std::uint32_t>(0x10000000u + std::uint32_t(i) * 0x1000, header + 12);
            }
            image += headers;
            image += QByteArray(qsizetype(table + count * 40 + shift) - image.size(), '\0');
            return image + app.mid(table + count * 40);
        };
        const QByteArray expected = readVersionResourceFromImage(app).block;
        QVERIFY(!expected.isEmpty());
        const QString path = m_scratch.filePath(u"sections.dll"_s);
        for (const int sections : {96, 97, 65535}) {
            writeFile(path, withSections(sections));
            const VersionResourceRead read = readVersionResource(path);
            if (sections <= 96) {
                QCOMPARE(read.status, VersionResourceRead::Status::Found);
                QCOMPARE(read.block, expected);
            } else {
                QCOMPARE(read.status, VersionResourceRead::Status::NotAProgram);
                QVERIFY2(read.error.contains(u"%1 sections"_s.arg(sections)), qPrintable(read.error));
                QCOMPARE(GetFileVersionInfoSizeA(path), 0u);
            }
        }
    }

    void namesThatAreNotUtf8Open() {
        const QList<QByteArray> names = {"caf\xE9.exe",          "\xC3\xA8 gi\xE0.dll",   "cut\xE2\x82.exe",
                                         "\xF0\x9F\x98\x80.exe", "\xED\xB2\x80 lone.exe", "\xC0\xAF over.exe"};
        const QByteArray folder = QFile::encodeName(m_scratch.path());
        const QByteArray app = readFile(kFixtures + u"/app.exe"_s);
        for (const QByteArray& name : names) {
            // The name as the file system holds it comes back from its decoded form byte for byte.
            QCOMPARE(encodeFileName(decodeFileName(name)), name);
            const QByteArray native = folder + '/' + name;
            const QString temporary = m_scratch.filePath(u"plain.exe"_s);
            writeFile(temporary, app);
            QCOMPARE(std::rename(QFile::encodeName(temporary).constData(), native.constData()), 0);
            const QString path = decodeFileName(native);
            QCOMPARE(readVersionResource(path).status, VersionResourceRead::Status::Found);
            QVERIFY(GetFileVersionInfoSizeA(path) > 0);
            QVERIFY(::unlink(native.constData()) == 0);
        }
        // Valid UTF-8 stays as Qt reads it; a real character beyond 16 bits keeps both its halves.
        QCOMPARE(decodeFileName("\xC3\xA8"), u"\u00E8"_s);
        QCOMPARE(encodeFileName(QString::fromUcs4(U"\U00010080")), QByteArray("\xF0\x90\x82\x80"));
    }

    void elfFilesAreReadOnlyWhereTheirSectionsLie() {
        const QString path = binFile(u"chatserver"_s);
        const QByteArray whole = readFile(path);
        QVERIFY(whole.size() > 100000);
        std::uint64_t asked = 0;
        const auto read = [&](std::uint64_t offset, std::uint64_t length, char* out) {
            asked += length;
            if (offset > std::uint64_t(whole.size()) || length > std::uint64_t(whole.size()) - offset)
                return false;
            std::memcpy(out, whole.constData() + offset, length);
            return true;
        };
        const auto place = findElfSection(read, std::uint64_t(whole.size()), kElfVersionSection);
        QVERIFY(place);
        QCOMPARE(whole.mid(qsizetype(place->offset), qsizetype(place->size)),
                 elfSection(whole, kElfVersionSection)->toByteArray());
        // The header, the section headers and the names compared: a few KiB of a file of megabytes.
        QVERIFY2(asked < 16 * 1024, qPrintable(QString::number(asked)));
        QCOMPARE(readVersionResource(path).block, readVersionResourceFromImage(whole).block);
    }

    void filesWithoutVersionInformationLogNothing() {
        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { messages.append(text); });
        for (const QString& path : {m_textFile, binFile(u"VE_ita.dll"_s), u"/nonexistent/file.exe"_s})
            QCOMPARE(GetFileVersionInfoSizeA(path), 0u);
        qInstallMessageHandler(previous);
        QCOMPARE(messages, QStringList());
    }

    void takesTheLanguageWindowsWouldTake_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QByteArray>("translation");
        // The fixture holds German (first), English (US) and Italian.
        QTest::newRow("the user's language") << QLocale(QLocale::Italian, QLocale::Italy) << QByteArray("041004E4");
        QTest::newRow("the first one") << QLocale(QLocale::German, QLocale::Germany) << QByteArray("040704E4");
        QTest::newRow("the user's language elsewhere")
            << QLocale(QLocale::Italian, QLocale::Switzerland) << QByteArray("041004E4");
        QTest::newRow("another language: English (US)")
            << QLocale(QLocale::French, QLocale::France) << QByteArray("040904E4");
        QTest::newRow("no language: English (US)") << QLocale::c() << QByteArray("040904E4");
    }
    void takesTheLanguageWindowsWouldTake() {
        QFETCH(QLocale, locale);
        QFETCH(QByteArray, translation);
        const QString path = kFixtures + u"/threelang.dll"_s;
        const VersionResourceRead read = readVersionResource(path, locale);
        QCOMPARE(read.status, VersionResourceRead::Status::Found);
        QCOMPARE(versionTranslations(read.block).front().id().toLatin1(), translation);
        QCOMPARE(readVersionResourceFromImage(readFile(path), locale).block, read.block);
        // The platform's query functions take the user's language from the default locale.
        const QLocale before;
        QLocale::setDefault(locale);
        QCOMPARE(blockOf(path), read.block);
        QLocale::setDefault(before);
    }

    void languageOrderOfTheLoader_data() {
        QTest::addColumn<std::vector<std::uint16_t>>("available");
        QTest::addColumn<int>("user"); // -1: none
        QTest::addColumn<int>("chosen");
        using L = std::vector<std::uint16_t>;
        QTest::newRow("user's exact language") << L{0x401, 0x409, 0x410, 0x810} << 0x810 << 3;
        QTest::newRow("primary language, neutral sublanguage") << L{0x401, 0x10, 0x410} << 0x810 << 1;
        QTest::newRow("primary language, default sublanguage") << L{0x401, 0x409, 0x410} << 0x810 << 2;
        QTest::newRow("neutral before English") << L{0x401, 0x409, 0x0} << 0x407 << 2;
        QTest::newRow("English (US)") << L{0x401, 0x809, 0x409} << 0x407 << 2;
        QTest::newRow("else the first") << L{0x401, 0x809} << 0x407 << 0;
        QTest::newRow("no user language") << L{0x401, 0x409, 0x410} << -1 << 1;
        QTest::newRow("nothing") << L{} << 0x410 << -1;
    }
    void languageOrderOfTheLoader() {
        QFETCH(std::vector<std::uint16_t>, available);
        QFETCH(int, user);
        QFETCH(int, chosen);
        const auto choice = loaderLanguageChoice(
            available, user < 0 ? std::nullopt : std::optional<std::uint16_t>(std::uint16_t(user)));
        QCOMPARE(choice ? int(*choice) : -1, chosen);
        QCOMPARE(windowsLanguageId(QLocale(QLocale::Italian, QLocale::Italy)), std::optional<std::uint16_t>(0x410));
        QCOMPARE(windowsLanguageId(QLocale(QLocale::Arabic, QLocale::SaudiArabia)),
                 std::optional<std::uint16_t>(0x401));
        QCOMPARE(windowsLanguageId(QLocale::c()), std::nullopt);
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
