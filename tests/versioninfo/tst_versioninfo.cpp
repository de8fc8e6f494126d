#include "tests/support/TestFiles.h"
#include "tests/versioninfo/VersionBlockWriter.h"
#include "versioninfo/VersionReport.h"
#include "versioninfo/ui/VersInfo.h"
#include "versioninfo/ui/Verslab.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "platform/FileVersionInfo.h"

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::versioninfo;

namespace {

const QString kFixtures = QStringLiteral(VESTREL_VERSION_FIXTURES);

QString fixture(const QString& name) {
    return kFixtures + u'/' + name;
}

QString binFile(const QString& name) {
    return qEnvironmentVariable("VESTREL_BIN_DIR") + u'/' + name;
}

QStringList rowsOf(const QTreeWidget& view) {
    QStringList rows;
    for (int i = 0; i < view.topLevelItemCount(); ++i)
        rows.append(view.topLevelItem(i)->text(0) + u'=' + view.topLevelItem(i)->text(1));
    return rows;
}

QJsonObject verinfoJson(const QString& file) {
    return QJsonDocument::fromJson(reportJson(readFileVersionReport(file))).object();
}

// The report as a QJsonDocument in compact form: what verinfo's lines must equal byte for byte.
QByteArray jsonDocumentLine(const FileVersionReport& report) {
    QJsonObject object{{u"file"_s, report.file}};
    if (!report.error.isEmpty()) {
        object.insert(u"error"_s, report.error);
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    const auto version = [](std::uint32_t ms, std::uint32_t ls) {
        return QJsonArray{int(ms >> 16), int(ms & 0xFFFF), int(ls >> 16), int(ls & 0xFFFF)};
    };
    if (report.fixed) {
        const FixedFileInfo& f = *report.fixed;
        object.insert(u"fixed"_s, QJsonObject{{u"file_version"_s, version(f.fileVersionMS, f.fileVersionLS)},
                                              {u"product_version"_s, version(f.productVersionMS, f.productVersionLS)},
                                              {u"flags"_s, qint64(f.fileFlags)},
                                              {u"os"_s, qint64(f.fileOS)},
                                              {u"type"_s, qint64(f.fileType)},
                                              {u"subtype"_s, qint64(f.fileSubtype)}});
    } else {
        object.insert(u"fixed"_s, QJsonValue::Null);
    }
    QJsonArray translations;
    for (const VersionTranslation& t : report.translations)
        translations.append(t.id());
    object.insert(u"translations"_s, translations);
    QJsonObject strings;
    for (const FileVersionReport::Table& table : report.strings) {
        QJsonObject values;
        for (const auto& [key, value] : table.values)
            values.insert(key, value);
        strings.insert(table.id, values);
    }
    object.insert(u"strings"_s, strings);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Texts drawn from the units JSON writing treats apart: quotes, controls, each UTF-8 length, lone and
// paired surrogates.
class TextDraw {
public:
    QString text(int maxLength) {
        static constexpr char16_t kUnits[] = {
            u'a', u'Z', u'0', u' ', u'"',  u'\\', u'/',   0x00,   0x01,   u'\b',  u'\t',  u'\n',  0x0C,   u'\r',
            0x1F, 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x2028, 0xFEFF, 0xFFFD, 0xFFFF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF};
        QString result;
        for (int i = 0, n = int(next(std::uint32_t(maxLength + 1))); i < n; ++i) {
            if (next(8) == 0) {
                result.append(QChar(char16_t(0xD83D)));
                result.append(QChar(char16_t(0xDE00 + next(0x40))));
            } else {
                result.append(QChar(kUnits[next(std::size(kUnits))]));
            }
        }
        return result;
    }
    std::uint32_t next(std::uint32_t below) {
        m_seed = m_seed * 1103515245u + 12345u;
        return (m_seed >> 8) % below;
    }

private:
    std::uint32_t m_seed = 12;
};

} // namespace

class TestVersionInfo : public QObject {
    Q_OBJECT

private slots:
    void enumerationMappings() {
        QCOMPARE(fixedFileInfoFlagNames(fixedFileInfoFlags(0x05)), u"Debug, Patched"_s);
        QCOMPARE(fixedFileInfoFlagNames(fixedFileInfoFlags(0x3F)),
                 u"Debug, Info Inferred, Patched, Pre-Release, Private, Special"_s);
        QCOMPARE(fixedFileInfoFlagNames(fixedFileInfoFlags(0x40)), QString());
        QCOMPARE(versionFileType(6), vftUnknown);
        QCOMPARE(versionFileType(7), vftStaticLib);
        QCOMPARE(versionFileType(2), vftDLL);
        QCOMPARE(versionOperatingSystemFlags(0x40004), TVersionOperatingSystemFlags().set(vosNT).set(vosWindows32));
        QCOMPARE(versionOperatingSystemFlags(0x50001),
                 TVersionOperatingSystemFlags().set(vosUnknown).set(vosWindows16));
        QCOMPARE(versionOperatingSystemFlags(0), TVersionOperatingSystemFlags().set(vosUnknown));
        QCOMPARE(preDefKey(pdLegalTrademarks), u"LegalTrademarks"_s);
        QCOMPARE(preDefCaption(pdBuildFlags), u"Build Flags"_s);
        QCOMPARE(preDefKey(11), QString());
    }

    void versionNumbers() {
        TVersionNumberInformation number(0x00020001, 0x00000007);
        QCOMPARE(number.GetVersionNumberString(), QString()); // not valid yet
        QCOMPARE(number.GetVersionNumber(0), 0);
        number.Set(true, 0x00020001, 0x00000007, QString());
        QCOMPARE(number.GetVersionNumberString(), u"2.1.0.7"_s);
        QCOMPARE(number.GetVersionNumber(1), 1);
        QCOMPARE(number.GetVersionNumber(4), 0);
        QCOMPARE(number.GetVersionNumber(-1), 0);
        number.Set(true, 0x00020001, 0x00000007, u"2.1 beta"_s);
        QCOMPARE(number.GetVersionNumberString(), u"2.1 beta"_s);
    }

    void fileDates() {
        QCOMPARE(fileTimeToDateTime(0), QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC));
        QCOMPARE(fileTimeToDateTime(116444736000000000ULL), QDateTime::fromMSecsSinceEpoch(0, Qt::UTC));
        QCOMPARE(fileTimeToDateTime(2650467743999999999ULL).date(), QDate(9999, 12, 31));
        QVERIFY(!fileTimeToDateTime(2650467744000000000ULL).isValid());
        QVERIFY(!fileTimeToDateTime(~0ULL).isValid());
        QVERIFY(!TFixedFileVersionInfo().GetCreationDate().isValid());
    }

    void readerOnFiles() {
        VersionInfoReader app;
        app.SetFilename(fixture(u"app.exe"_s));
        QCOMPARE(app.GetTranslationIDs(), QStringList{u"041004E4"_s});
        QCOMPARE(app.CompanyName(), u"Pelk Software"_s);
        QCOMPARE(app.LegalCopyright(), u"© Pelk — è così"_s);
        QCOMPARE(app.Comments(), u"? fuori"_s); // the query gives cp1252 text
        QCOMPARE(app.FixedFileInfo().GetFileType(), vftApplication);
        QCOMPARE(app.FixedFileInfo().GetSignature(), 0xFEEF04BDu);
        QCOMPARE(app.BuildFlags(), u"Debug, Special"_s);
        QCOMPARE(app.FileVersion().GetVersionNumberString(), u"3.10.2.0"_s);
        QCOMPARE(app.ProductVersion().GetVersionNumber(1), 10);
        QCOMPARE(app.GetResourceStr(u"productname"_s), u"Vestrel"_s);
        QCOMPARE(app.GetVersionInfoString(42), QString());
        QCOMPARE(app.Version(), u"TVersionInfoResource v2.36"_s);

        // No FileVersion string: the four numbers.
        VersionInfoReader quirks;
        quirks.SetFilename(fixture(u"quirks.dll"_s));
        QCOMPARE(quirks.FileVersion().GetVersionNumberString(), u"2.1.0.7"_s);
        QCOMPARE(quirks.GetTranslationIDs(), (QStringList{u"040904E4"_s, u"041004E4"_s}));
        QCOMPARE(quirks.CompanyName(), u"Pelk Software Inc."_s);
        quirks.SetTranslationIDIndex(1);
        QCOMPARE(quirks.CompanyName(), u"Pelk Software S.r.l."_s);
        quirks.SetTranslationIDIndex(0); // ignored: 0 is only the initial value
        quirks.SetTranslationIDIndex(2); // ignored: beyond the list
        QCOMPARE(quirks.TranslationIDIndex(), 1);

        // No translation: looked up under 040904E4.
        VersionInfoReader notrans;
        notrans.SetFilename(fixture(u"notrans.dll"_s));
        QVERIFY(notrans.GetTranslationIDs().isEmpty());
        QCOMPARE(notrans.FileDescription(), u"No translation"_s);

        // No version information, or no file: empty values, versions not valid.
        for (const QString& file : {binFile(u"VE_ita.dll"_s), u"/nonexistent"_s}) {
            VersionInfoReader none;
            none.SetFilename(file);
            QCOMPARE(none.VersionBlockSize(), 0u);
            QVERIFY(!none.FileVersion().Valid());
            QCOMPARE(none.FileVersion().GetVersionNumberString(), QString());
            QCOMPARE(none.CompanyName(), QString());
            QVERIFY(!none.FixedFileInfo().GetCreationDate().isValid());
            QCOMPARE(none.FixedFileInfo().GetFileOperatingSystem(), TVersionOperatingSystemFlags());
        }

        // The running program by default.
        VersionInfoReader self;
        self.ReadVersionInfoData();
        QCOMPARE(self.FileDescription(), u"Version components test"_s);
        QCOMPARE(self.FileVersion().GetVersionNumberString(), u"1.2.3.4"_s);
    }

    void translationShorterThanOneEntry_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one word") << QByteArray("\xE4\x04", 2) << QStringList{u"040904E4"_s};
        QTest::newRow("one byte") << QByteArray("\xB0", 1) << QStringList{u"040900B0"_s};
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("one entry and a half")
            << QByteArray("\x10\x04\xE4\x04\x09\x04", 6) << QStringList{u"041004E4"_s};
    }
    void translationShorterThanOneEntry() {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, expected);
        using namespace vestrel::testing;
        const QByteArray block = versionBlock({parentNode(u"VarFileInfo"_s, {binaryNode(u"Translation"_s, value)})});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"short.so"_s);
        writeFile(path, elfImage(block, kElfVersionSection));
        VersionInfoReader reader;
        reader.SetFilename(path);
        QCOMPARE(reader.GetTranslationIDs(), expected);
        QCOMPARE(reader.FileVersion().GetVersionNumberString(), u"1.2.3.4"_s);
    }

    void componentFillsLinkedControls() {
        QLabel version, copyright, product, description;
        QTreeWidget list;
        TVersionInfoResource resource;
        resource.SetVersionListView(&list);
        QVERIFY(resource.IsLoading());
        QCOMPARE(list.topLevelItemCount(), 0); // nothing before it has loaded
        resource.SetFilename(fixture(u"pe32.dll"_s));
        QTRY_VERIFY(!resource.IsLoading()); // loads by itself once the event loop turns
        QCOMPARE(rowsOf(list), (QStringList{u"Product Name=Vestrel"_s, u"Product Version=2.1.0.0"_s,
                                            u"File Description=32-bit library"_s, u"File Version=2.1 beta"_s,
                                            u"Build Flags=Info Inferred, Pre-Release"_s}));
        QCOMPARE(list.columnCount(), 2);
        QCOMPARE(list.headerItem()->text(0), u"Resource"_s);
        QCOMPARE(list.headerItem()->text(1), u"Value"_s);

        resource.SetVersionLabel(&version);
        resource.SetProductLabel(&product);
        QCOMPARE(version.text(), u"2.1 beta"_s);
        QCOMPARE(product.text(), u"Vestrel"_s);
        QVERIFY(!rowsOf(list).contains(u"Product Name=Vestrel"_s));
        QVERIFY(!rowsOf(list).contains(u"File Version=2.1 beta"_s));
        resource.SetProductLabel(nullptr); // unlinking does not show it again
        resource.BuildListView();
        QVERIFY(!rowsOf(list).contains(u"Product Name=Vestrel"_s));

        resource.SetCopyrightLabel(&copyright);
        resource.SetDescriptionLabel(&description);
        resource.SetFilename(fixture(u"app.exe"_s));
        QCOMPARE(copyright.text(), u"© Pelk — è così"_s);
        QCOMPARE(description.text(), u"Programma di prova"_s);
        QCOMPARE(rowsOf(list),
                 (QStringList{u"Product Version=3.10"_s, u"Company Name=Pelk Software"_s, u"Internal Name=app"_s,
                              u"Original Filename=app.exe"_s, u"Build Flags=Debug, Special"_s, u"Comments=? fuori"_s}));
        TPreDefs show = resource.ShowResource();
        show.reset(pdComments);
        resource.SetShowResource(show);
        QCOMPARE(rowsOf(list).size(), 5);

        // A file without version information empties the labels; a destroyed control is unlinked.
        resource.SetFilename(u"/nonexistent"_s);
        QCOMPARE(version.text(), QString());
        QCOMPARE(list.topLevelItemCount(), 0);
        {
            QLabel gone;
            resource.SetDescriptionLabel(&gone);
        }
        QCOMPARE(resource.DescriptionLabel(), nullptr);
        resource.ReadVersionInfoData();
    }

    void linkedLabelsShowFileTextsAsTyped() {
        QLabel label;
        label.setTextFormat(Qt::RichText);
        TVersionInfoResource resource;
        resource.Loaded();
        resource.SetDescriptionLabel(&label);
        QCOMPARE(label.textFormat(), Qt::PlainText);
    }

    void labelDefaultsToTheRunningProgram() {
        TVersionLabel label;
        QCOMPARE(label.text(), u"File Version: 1.2.3.4"_s);
        QCOMPARE(label.LangCharset(), u"041004E4"_s);
        QCOMPARE(label.InfoString(), label.text());
        QCOMPARE(label.FileSizeFormat(), u"#,#0\" Bytes\""_s);
        QCOMPARE(label.textFormat(), Qt::PlainText);
        label.SetDesigning(true);
        QCOMPARE(label.text(), u"File Version: < No design info >"_s);
    }

    void labelItems_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("expected");
        QTest::newRow("string") << u"app.exe"_s << int(vrCompanyName) << u"Company Name: Pelk Software"_s;
        QTest::newRow("short 3.10.2.0") << u"app.exe"_s << int(vrShortFileVersion) << u"v 3.10"_s;
        QTest::newRow("no translation") << u"notrans.dll"_s << int(vrShortFileVersion)
                                        << u"v < Error retrieving translation info >"_s;
        QTest::newRow("short, not numbers") << u"pe32.dll"_s << int(vrShortFileVersion) << u"v 2.00"_s;
        QTest::newRow("flags 0x21") << u"app.exe"_s << int(vrFlags) << u"Flags: Debug Build, Special Build"_s;
        QTest::newRow("flags 0x12") << u"pe32.dll"_s << int(vrFlags) << u"Flags: Pre-Release Build, InfoInferred"_s;
        QTest::newRow("no such key") << u"quirks.dll"_s << int(vrFileVersion)
                                     << u"File Version: < Error retrieving string version info >"_s;
        QTest::newRow("no such key either")
            << u"quirks.dll"_s << int(vrComments) << u"Comments: < Error retrieving string version info >"_s;
        QTest::newRow("no version info") << binFile(u"VE_ita.dll"_s) << int(vrFileSize)
                                         << u"File Size: < No Data Available >"_s;
        QTest::newRow("no file") << u"/nonexistent"_s << int(vrDateTime) << u"File Date/Time: < No Data Available >"_s;
    }
    void labelItems() {
        QFETCH(QString, file);
        QFETCH(int, item);
        QFETCH(QString, expected);
        TVersionLabel label;
        label.SetFilename(file.startsWith(u'/') ? file : fixture(file));
        label.SetVersionResource(TVersionResources(item));
        QCOMPARE(label.text(), expected);
    }

    void labelShortVersionOfTheChosenTable() {
        TVersionLabel label;
        label.SetFilename(fixture(u"notrans.dll"_s));
        label.SetLangCharset(u"040904E4"_s);
        label.SetVersionResource(vrShortFileVersion);
        QCOMPARE(label.text(), u"v 3.01"_s);
    }

    void labelSettings() {
        TVersionLabel label;
        label.SetFilename(fixture(u"quirks.dll"_s));
        // Learnt from this file, not kept from the running program.
        QCOMPARE(label.LangCharset(), u"040904E4"_s);
        QCOMPARE(label.text(), u"File Version: < Error retrieving string version info >"_s);
        label.SetVersionResource(vrCompanyName);
        QCOMPARE(label.text(), u"Company Name: Pelk Software Inc."_s);
        QCOMPARE(label.LangCharset(), u"040904E4"_s);
        label.SetLangCharset(u"041004E4"_s);
        QCOMPARE(label.text(), u"Company Name: Pelk Software S.r.l."_s);
        label.SetVersionResourceKey(u"LegalTrademarks"_s); // an empty value
        QCOMPARE(label.text(), u"LegalTrademarks < Error retrieving string version info >"_s);
        label.SetLangCharset(u"040904E4"_s);
        QCOMPARE(label.text(), u"LegalTrademarks < No Version Info >"_s);
        label.SetVersionResourceKey(u"ProductName"_s);
        QCOMPARE(label.text(), u"ProductName Vestrel"_s);
        label.SetShowInfoPrefix(false);
        QCOMPARE(label.text(), u"Vestrel"_s);
        label.SetInfoPrefix(u"Prodotto:"_s);
        label.SetShowInfoPrefix(true);
        QCOMPARE(label.text(), u"Prodotto: Vestrel"_s);

        label.SetVersionResource(vrFileSize);
        label.SetFileSizeFormat(u"0"_s);
        QCOMPARE(label.text(), u"File Size: "_s + QString::number(QFileInfo(fixture(u"quirks.dll"_s)).size()));
        label.SetFileSizeFormat(QString());
        QCOMPARE(label.FileSizeFormat(), u"0"_s);
        label.SetVersionResource(vrDateTime);
        label.SetDateTimeFormat(u"yyyy"_s);
        QCOMPARE(label.text(),
                 u"File Date/Time: "_s + QFileInfo(fixture(u"quirks.dll"_s)).lastModified().toString(u"yyyy"_s));
        label.SetDateTimeFormat(QString());
        QCOMPARE(label.DateTimeFormat(), u"yyyy"_s);

        // A translation set by hand stays when the file changes.
        label.SetVersionResource(vrProductName);
        label.SetLangCharset(u"041004E4"_s);
        label.SetFilename(fixture(u"app.exe"_s));
        QCOMPARE(label.LangCharset(), u"041004E4"_s);
        QCOMPARE(label.text(), u"Product Name: Vestrel"_s);
    }

    void sliceAndNumbers() {
        QString text = u"3.10.2"_s;
        QCOMPARE(Slice(text, u"."_s), u"3"_s);
        QCOMPARE(text, u"10.2"_s);
        QString last = u"7"_s;
        QCOMPARE(Slice(last, u"."_s), u"7"_s);
        QCOMPARE(last, QString());
        const QLocale c(QLocale::C);
        QCOMPARE(formatNumber(1234567, u"#,#0\" Bytes\""_s, c), u"1,234,567 Bytes"_s);
        QCOMPARE(formatNumber(0, u"#,#0\" Bytes\""_s, c), u"0 Bytes"_s);
        QCOMPARE(formatNumber(999, u"#,#0"_s, c), u"999"_s);
        QCOMPARE(formatNumber(5, u"'<'000'>'"_s, c), u"<005>"_s);
        QCOMPARE(formatNumber(1234.5, u"#,##0.00"_s, c), u"1,234.50"_s);
        QCOMPARE(formatNumber(1234.5, u"0.##"_s, c), u"1234.5"_s);
        QCOMPARE(formatNumber(1234567, u"#,#0"_s, QLocale(QLocale::Italian)), u"1.234.567"_s);
        QCOMPARE(formatNumber(3, u"no digits"_s, c), u"no digits"_s);
    }

    void reportsForVerinfo() {
        const QJsonObject app = verinfoJson(fixture(u"app.exe"_s));
        QCOMPARE(app[u"fixed"_s][u"file_version"_s].toArray(), (QJsonArray{3, 10, 2, 0}));
        QCOMPARE(app[u"fixed"_s][u"flags"_s].toInt(), 0x21);
        QCOMPARE(app[u"fixed"_s][u"os"_s].toInt(), 0x40004);
        QCOMPARE(app[u"translations"_s].toArray(), QJsonArray{u"041004E4"_s});
        // Straight from the file's UTF-16, not through cp1252.
        QCOMPARE(app[u"strings"_s][u"041004E4"_s][u"Comments"_s].toString(), u"Ω fuori"_s);

        const QJsonObject quirks = verinfoJson(fixture(u"quirks.dll"_s));
        QCOMPARE(quirks[u"strings"_s][u"040904E4"_s][u"companyname"_s].toString(), u"Pelk Software Inc."_s);
        QCOMPARE(quirks[u"strings"_s][u"040904E4"_s][u"LegalTrademarks"_s].toString(), QString());
        QCOMPARE(quirks[u"strings"_s][u"041004E4"_s][u"CompanyName"_s].toString(), u"Pelk Software S.r.l."_s);

        // Tables no translation names are listed under their own name.
        const QJsonObject notrans = verinfoJson(fixture(u"notrans.dll"_s));
        QCOMPARE(notrans[u"translations"_s].toArray(), QJsonArray());
        QCOMPARE(notrans[u"strings"_s][u"040904E4"_s][u"FileVersion"_s].toString(), u"3.1"_s);

        const QJsonObject none = verinfoJson(binFile(u"VE_ita.dll"_s));
        QVERIFY(none[u"fixed"_s].isNull());
        QCOMPARE(none[u"strings"_s].toObject(), QJsonObject());
        QVERIFY(!none.contains(u"error"_s));
        const QJsonObject missing = verinfoJson(u"/nonexistent"_s);
        QCOMPARE(missing[u"error"_s].toString(), u"no such file"_s);
        QCOMPARE(missing[u"file"_s].toString(), u"/nonexistent"_s);
    }

    void jsonLinesAsQtWritesThem() {
        TextDraw draw;
        // Keys come from a small pool so that tables and values share names, in any case.
        const QStringList keys{u"CompanyName"_s, u"companyname"_s, u"FileVersion"_s, u"Ω"_s,
                               u"040904E4"_s,    u"040904e4"_s,    QString(),        u"\u00e9t\u00e9"_s};
        for (int round = 0; round < 400; ++round) {
            FileVersionReport report;
            report.file = draw.text(12);
            if (draw.next(10) == 0) {
                report.error = draw.text(6) + u'x';
            } else {
                if (draw.next(3) != 0)
                    report.fixed = FixedFileInfo{FixedFileInfo::kSignature,
                                                 0x10000,
                                                 0xFFFFFFFF,
                                                 draw.next(70000),
                                                 0x00010002,
                                                 0,
                                                 0x3F,
                                                 draw.next(64),
                                                 0x40004,
                                                 2,
                                                 0,
                                                 0,
                                                 0};
                for (int i = 0, n = int(draw.next(3)); i < n; ++i)
                    report.translations.push_back(
                        VersionTranslation{std::uint16_t(draw.next(0x10000)), std::uint16_t(draw.next(0x10000))});
                for (int t = 0, n = int(draw.next(4)); t < n; ++t) {
                    FileVersionReport::Table table{draw.next(2) ? keys[draw.next(keys.size())] : draw.text(4), {}};
                    for (int v = 0, m = int(draw.next(6)); v < m; ++v)
                        table.values.emplace_back(draw.next(2) ? keys[draw.next(keys.size())] : draw.text(5),
                                                  draw.text(20));
                    report.strings.push_back(std::move(table));
                }
            }
            QCOMPARE(reportJson(report), jsonDocumentLine(report));
        }
    }

    void verinfoExitStatus() {
        const auto run = [](const QStringList& arguments, QByteArray* out = nullptr) {
            QProcess process;
            process.start(binFile(u"verinfo"_s), arguments);
            process.waitForFinished(30000);
            if (out)
                *out = process.readAllStandardOutput();
            return process.exitCode();
        };
        QByteArray out;
        QCOMPARE(run({u"--json"_s, fixture(u"app.exe"_s), binFile(u"verinfo"_s)}, &out), 0);
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lines[1])[u"strings"_s][u"041004E4"_s][u"OriginalFilename"_s].toString(),
                 u"verinfo"_s);
        QCOMPARE(run({fixture(u"app.exe"_s)}, &out), 0);
        QVERIFY(out.contains("file version     3.10.2.0"));
        QVERIFY(out.contains("flags            0x00000021 (Debug, Special)"));
        QCOMPARE(run({u"--json"_s, fixture(u"app.exe"_s), u"/nonexistent"_s}), 1);
        QCOMPARE(run({u"/"_s}), 1);
        QCOMPARE(run({}), 2);
        QCOMPARE(run({u"--bogus"_s, fixture(u"app.exe"_s)}), 2);
    }

    void componentsReadTheUsersLanguage_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("translation");
        // threelang.dll: German (first), English (US), Italian.
        QTest::newRow("Italian") << QLocale(QLocale::Italian, QLocale::Italy) << u"Prova di versione"_s
                                 << u"041004E4"_s;
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Austria) << u"Versionspr\u00fcfung"_s
                                << u"040704E4"_s;
        QTest::newRow("French: English (US)")
            << QLocale(QLocale::French, QLocale::France) << u"Version check"_s << u"040904E4"_s;
    }
    void componentsReadTheUsersLanguage() {
        QFETCH(QLocale, locale);
        QFETCH(QString, description);
        QFETCH(QString, translation);
        const QLocale before;
        QLocale::setDefault(locale);
        TVersionInfoResource component;
        component.SetFilename(fixture(u"threelang.dll"_s));
        QCOMPARE(component.FileDescription(), description);
        QCOMPARE(component.GetTranslationIDs(), QStringList{translation});
        TVersionLabel label;
        label.SetFilename(fixture(u"threelang.dll"_s));
        label.SetVersionResource(vrFileDescription);
        QCOMPARE(label.text(), u"File Description: "_s + description);
        QCOMPARE(label.LangCharset(), translation);
        QLocale::setDefault(before);
    }

    void verinfoReadsTheUsersLanguageAndAnyName() {
        // The locale comes from the environment, as for any program; the file's name is not UTF-8.
        QTemporaryDir folder;
        const QByteArray name = QFile::encodeName(folder.path()) + "/trois langues \xE9t\xE9.dll";
        QVERIFY(QFile::copy(fixture(u"threelang.dll"_s), folder.filePath(u"plain.dll"_s)));
        QCOMPARE(std::rename(QFile::encodeName(folder.filePath(u"plain.dll"_s)).constData(), name.constData()), 0);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"LANGUAGE"_s);
        environment.remove(u"LC_MESSAGES"_s);
        environment.insert(u"LC_ALL"_s, u"it_IT.UTF-8"_s);
        process.setProcessEnvironment(environment);
        // Through the shell, so that the name reaches verinfo as its bytes.
        process.start(u"/bin/sh"_s,
                      {u"-c"_s, u"exec \"$0\" --json \"$(printf '%s/trois langues \\351t\\351.dll' \"$1\")\""_s,
                       binFile(u"verinfo"_s), folder.path()});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QJsonObject line = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(line[u"translations"_s].toArray(), QJsonArray{u"041004E4"_s});
        QCOMPARE(line[u"strings"_s][u"041004E4"_s][u"FileDescription"_s].toString(), u"Prova di versione"_s);
        // Each byte that is not UTF-8 stays the character that stands for it.
        const QString escaped(QChar(char16_t(0xDCE9)));
        QVERIFY(line[u"file"_s].toString().endsWith(u"/trois langues "_s + escaped + u't' + escaped + u".dll"_s));
    }
};

QTEST_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
