#include "platform/ResourceLibrary.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace vestrel;
using testing::readFile;

namespace {

const QString kFixtures = QStringLiteral(VESTREL_PE_FIXTURES);

void put16(QByteArray& bytes, qsizetype at, std::uint16_t v) {
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char(v >> 8);
}

void put32(QByteArray& bytes, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xFF);
}

// A string table block: sixteen length-prefixed UTF-16 strings.
QByteArray stringBlock(const QStringList& strings) {
    QByteArray block;
    for (int i = 0; i < 16; ++i) {
        const QString s = strings.value(i);
        QByteArray unit(2, '\0');
        put16(unit, 0, std::uint16_t(s.size()));
        block += unit;
        for (const QChar c : s) {
            put16(unit, 0, c.unicode());
            block += unit;
        }
    }
    return block;
}

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr qsizetype kSectionFileOffset = 0x200;

// The resource section of one string block (block 1, language 0x409): root → type 6 → id 1 →
// language → data entry → data, at the offsets named below so that tests can damage them.
struct ResourceSection {
    enum Offset { Root = 0x00, TypeDir = 0x18, NameDir = 0x30, DataEntry = 0x48, Data = 0x58 };
    QByteArray bytes;

    explicit ResourceSection(const QByteArray& data)
        : bytes(Data, '\0') {
        bytes += data;
        directory(Root, 6, 0x80000000u | TypeDir);
        directory(TypeDir, 1, 0x80000000u | NameDir);
        directory(NameDir, 0x409, DataEntry);
        put32(bytes, DataEntry, kSectionRva + Data);
        put32(bytes, DataEntry + 4, std::uint32_t(data.size()));
    }
    void directory(qsizetype at, std::uint32_t id, std::uint32_t target) {
        put16(bytes, at + 14, 1);
        put32(bytes, at + 16, id);
        put32(bytes, at + 20, target);
    }
};

// A minimal PE image (PE32+ or PE32) with the given section as its only, resource, section.
QByteArray peImage(const QByteArray& section, bool plus = true, std::uint32_t resourceRva = kSectionRva) {
    QByteArray image(kSectionFileOffset, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, 0x40);
    image.replace(0x40, 4, QByteArray("PE\0\0", 4));
    const qsizetype fileHeader = 0x44;
    const std::uint16_t optionalSize = plus ? 240 : 224;
    put16(image, fileHeader, plus ? 0x8664 : 0x14C);
    put16(image, fileHeader + 2, 1);
    put16(image, fileHeader + 16, optionalSize);
    const qsizetype optional = fileHeader + 20;
    put16(image, optional, plus ? 0x20B : 0x10B);
    const qsizetype count = optional + (plus ? 108 : 92);
    put32(image, count, 16);
    put32(image, count + 4 + 16, resourceRva);
    put32(image, count + 4 + 20, std::uint32_t(section.size()));
    const qsizetype table = optional + optionalSize;
    image.replace(table, 5, ".rsrc");
    put32(image, table + 8, std::uint32_t(section.size()));
    put32(image, table + 12, kSectionRva);
    put32(image, table + 16, std::uint32_t(section.size()));
    put32(image, table + 20, kSectionFileOffset);
    return image + section;
}

QString stringOf(const QByteArray& image, std::uint32_t id) {
    const auto resources = PeResources::fromBytes(image);
    return resources ? resources->string(id) : u"<not PE>"_s;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(kFixtures + u"/strings.dll"_s), "the test libraries are built with the tests");
    }

    void loadsStrings_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first of all") << 0 << u"Zero"_s;
        QTest::newRow("plain") << 1 << u"Connetti"_s;
        QTest::newRow("last of a block") << 15 << u"Ultima del blocco"_s;
        QTest::newRow("first of a block") << 16 << u"Prima del blocco"_s;
        QTest::newRow("non-ASCII") << 100 << u"Perché è così €"_s;
        QTest::newRow("missing in a present block") << 2 << QString();
        QTest::newRow("missing block") << 5000 << QString();
        QTest::newRow("beyond 16 bits") << 0x10001 << QString();
    }
    void loadsStrings() {
        QFETCH(int, id);
        QFETCH(QString, expected);
        const auto library = ResourceLibrary::LoadLibrary(kFixtures + u"/strings.dll"_s);
        QVERIFY(library);
        QCOMPARE(library->LoadString(std::uint32_t(id)), expected);
    }

    void longTextIsCutToTheBuffer() {
        const auto library = ResourceLibrary::LoadLibrary(kFixtures + u"/strings.dll"_s);
        QVERIFY(library);
        QCOMPARE(library->resources().string(4000).size(), 2000);
        const QString text = library->LoadString(4000);
        QCOMPARE(text.size(), 1023);
        QVERIFY(text.startsWith(u"0123456789"_s));
        QCOMPARE(library->LoadString(1, 5), u"Conn"_s);
        QCOMPARE(library->LoadString(1, 0), QString());
    }

    void usesTheLibrarysOwnLanguage() {
        const auto resources = PeResources::fromFile(kFixtures + u"/twolang.dll"_s);
        QVERIFY(resources);
        QCOMPARE(resources->defaultLanguage(), std::optional<std::uint16_t>(0x410));
        QCOMPARE(resources->languages(RT_STRING_TYPE, 2), std::vector<std::uint16_t>({0x409, 0x410}));
        QCOMPARE(resources->string(1), u"Ciao"_s);
        QCOMPARE(resources->string(17), u"Diciassette"_s);
        QCOMPARE(resources->string(16), QString()); // the Italian block lacks it
        // A language the file lacks falls back to the first one it has.
        const auto block = resources->find(RT_STRING_TYPE, 2, 0x407);
        QVERIFY(block);
        QCOMPARE(*block, *resources->find(RT_STRING_TYPE, 2, 0x409));
        QVERIFY(!resources->find(RT_VERSION_TYPE, 1));
    }

    void findsLibrariesLikeTheSystemSearch() {
        QTemporaryDir program;
        QTemporaryDir current;
        QVERIFY(QFile::copy(kFixtures + u"/strings.dll"_s, program.filePath(u"DAVerOdov_ITA.DLL"_s)));
        QVERIFY(QFile::copy(kFixtures + u"/twolang.dll"_s, current.filePath(u"DAVerOdov_ita.dll"_s)));
        QVERIFY(QFile::copy(kFixtures + u"/twolang.dll"_s, current.filePath(u"VE_eng.dll"_s)));
        QFile notPe(current.filePath(u"VE_ita.dll"_s));
        QVERIFY(notPe.open(QIODevice::WriteOnly));
        notPe.write("MZ but nothing more");
        notPe.close();

        qputenv("VESTREL_PROGRAM_DIR", program.path().toLocal8Bit());
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));

        const auto fromProgram = ResourceLibrary::LoadLibrary(u"DAVerOdov_ita.dll"_s);
        QVERIFY(fromProgram);
        QCOMPARE(fromProgram->LoadString(1), u"Connetti"_s);
        const auto fromCurrent = ResourceLibrary::LoadLibrary(u"VE_eng.dll"_s);
        QVERIFY(fromCurrent);
        QCOMPARE(fromCurrent->LoadString(1), u"Ciao"_s);
        QVERIFY(!ResourceLibrary::LoadLibrary(u"VE_ita.dll"_s));
        QVERIFY(!ResourceLibrary::LoadLibrary(u"missing_eng.dll"_s));
        QVERIFY(!ResourceLibrary::LoadLibrary(QString()));
        const auto byPath = ResourceLibrary::LoadLibrary(current.path() + u"\\DAVerOdov_ita.dll"_s);
        QVERIFY(byPath);
        QCOMPARE(byPath->LoadString(1), u"Ciao"_s);

        QVERIFY(QDir::setCurrent(before));
        qunsetenv("VESTREL_PROGRAM_DIR");
    }

    void builtImageReads() {
        const ResourceSection section(stringBlock({u"A"_s, u"Hi"_s}));
        QCOMPARE(stringOf(peImage(section.bytes, true), 1), u"Hi"_s);
        QCOMPARE(stringOf(peImage(section.bytes, false), 1), u"Hi"_s);
        QCOMPARE(stringOf(peImage(section.bytes, true), 3), QString());
    }

    void hostileImagesGiveEmptyResults_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("expected");
        const QByteArray block = stringBlock({u"A"_s, u"Hi"_s});
        const auto damaged = [&](auto&& change) {
            ResourceSection section(block);
            change(section.bytes);
            return peImage(section.bytes);
        };
        QTest::newRow("not PE") << QByteArray("plain text") << u"<not PE>"_s;
        QTest::newRow("empty") << QByteArray() << u"<not PE>"_s;
        QByteArray farHeader = peImage(ResourceSection(block).bytes);
        put32(farHeader, 0x3C, 0xFFFFFFF0u);
        QTest::newRow("PE header beyond the file") << farHeader << u"<not PE>"_s;
        QTest::newRow("resource RVA in no section")
            << peImage(ResourceSection(block).bytes, true, 0x90000) << QString();
        QTest::newRow("root points to itself")
            << damaged([](QByteArray& b) { put32(b, 0x14, 0x80000000u); }) << QString();
        QTest::newRow("name level points back")
            << damaged([](QByteArray& b) { put32(b, ResourceSection::NameDir + 20, 0x80000000u | 0x18); }) << QString();
        QTest::newRow("too deep") << damaged([](QByteArray& b) {
            put32(b, ResourceSection::NameDir + 20, 0x80000000u | ResourceSection::NameDir);
        }) << QString();
        QTest::newRow("directory beyond the section")
            << damaged([](QByteArray& b) { put32(b, 0x14, 0x80FFFFF0u); }) << QString();
        QTest::newRow("huge counts") << damaged([](QByteArray& b) {
            put16(b, 12, 0xFFFF);
            put16(b, 14, 0xFFFF);
        }) << u"Hi"_s; // the real entry comes first; the rest is read as far as the section goes
        QTest::newRow("data RVA in no section")
            << damaged([](QByteArray& b) { put32(b, ResourceSection::DataEntry, 0x7FFFFFFF); }) << QString();
        QTest::newRow("data entry beyond the section")
            << damaged([](QByteArray& b) { put32(b, ResourceSection::NameDir + 20, 0x7FFFFFF0); }) << QString();
        QTest::newRow("data size clamped")
            << damaged([](QByteArray& b) { put32(b, ResourceSection::DataEntry + 4, 0xFFFFFFFFu); }) << u"Hi"_s;
        QTest::newRow("string longer than its block") << damaged([](QByteArray& b) {
            put16(b, ResourceSection::Data + 4, 0xFFFF);
            b.truncate(ResourceSection::Data + 10);
        }) << u"Hi"_s;
        QByteArray manySections = peImage(ResourceSection(block).bytes);
        put16(manySections, 0x46, 96);
        QTest::newRow("section count beyond the file") << manySections << u"Hi"_s;
        put16(manySections, 0x46, 97);
        QTest::newRow("more sections than Windows loads") << manySections << u"<not PE>"_s;
    }
    void hostileImagesGiveEmptyResults() {
        QFETCH(QByteArray, image);
        QFETCH(QString, expected);
        QCOMPARE(stringOf(image, 1), expected);
    }

    void truncatedImagesReadAsPrefixesOfTheWhole() {
        // Each cut of a file reads as no PE file (while its headers are cut), or as the resources the
        // whole file has, each string the whole string or a beginning of it that grows with the cut.
        const QList<QByteArray> images = {peImage(ResourceSection(stringBlock({u"A"_s, u"Hi"_s})).bytes),
                                          readFile(kFixtures + u"/twolang.dll"_s),
                                          readFile(kFixtures + u"/strings.dll"_s)};
        const QList<std::uint32_t> ids = {0, 1, 15, 16, 17, 100, 4000};
        for (const QByteArray& image : images) {
            const auto whole = PeResources::fromBytes(image);
            QVERIFY(whole);
            QVERIFY(!whole->string(1).isEmpty());
            QList<qsizetype> longest(ids.size(), 0);
            bool readAsPe = false;
            for (qsizetype length = 0; length <= image.size(); ++length) {
                const auto cut = PeResources::fromBytes(image.left(length)); // own allocation: overreads show
                if (!cut) {
                    QVERIFY2(!readAsPe, qPrintable(u"a longer cut is no PE file: %1 bytes"_s.arg(length)));
                    continue;
                }
                readAsPe = true;
                for (qsizetype i = 0; i < ids.size(); ++i) {
                    const QString text = cut->string(ids[i]);
                    const QString full = whole->string(ids[i]);
                    QVERIFY2(full.startsWith(text) && text.size() >= longest[i],
                             qPrintable(u"string %1 at %2 bytes: \"%3\" of \"%4\""_s.arg(ids[i]).arg(length).arg(
                                 text.left(40), full.left(40))));
                    longest[i] = text.size();
                }
                // Entries the cut still holds, in the whole file's order.
                const auto cutLanguages = cut->languages(RT_STRING_TYPE, 2);
                const auto wholeLanguages = whole->languages(RT_STRING_TYPE, 2);
                auto next = wholeLanguages.begin();
                for (const std::uint16_t language : cutLanguages) {
                    next = std::find(next, wholeLanguages.end(), language);
                    QVERIFY(next != wholeLanguages.end());
                    ++next;
                }
            }
            for (qsizetype i = 0; i < ids.size(); ++i)
                QCOMPARE(longest[i], whole->string(ids[i]).size());
        }
        // The synthetic image ends with its one string block: its headers need the first 0x200 bytes
        // (the section table), and "Hi" is whole only with its last byte.
        const QByteArray image = peImage(ResourceSection(stringBlock({u"A"_s, u"Hi"_s})).bytes);
        const qsizetype hiEnd = kSectionFileOffset + ResourceSection::Data + 2 + 2 + 2 + 4;
        QCOMPARE(stringOf(image.left(hiEnd), 1), u"Hi"_s);
        QCOMPARE(stringOf(image.left(hiEnd - 1), 1), u"H"_s);
        QCOMPARE(stringOf(image.left(kSectionFileOffset - 1), 1), QString());
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
