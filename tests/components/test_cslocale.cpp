#include "components/csLocale.h"

#include "platform/Registry.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

QByteArray hiveBytes() {
    return testing::readFile(registryHiveFile(RegistryHive::CurrentUser));
}

std::optional<RegistryValue> storedLocale() {
    Registry registry(RegistryHive::CurrentUser);
    if (!registry.OpenKey(QByteArray(csLocale::LocaleKey), false))
        return std::nullopt;
    return registry.ReadValue(QByteArray(csLocale::LocaleValue));
}

RegistryValue dword(int value) {
    return RegistryValue::fromInteger(value);
}

} // namespace

class TestCsLocale : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void selectLanguage_data();
    void selectLanguage();
    void longTextIsCutAt1023();
    void anotherBaseNameReplacesTheLibrary();
    void missingLibraryGivesEmptyTexts();
    void onLookupComesFirst();
    void productLibrariesHoldEveryText_data();
    void productLibrariesHoldEveryText();

private:
    QTemporaryDir m_programDir;
    QTemporaryDir m_registryDir;
};

void TestCsLocale::initTestCase() {
    QVERIFY(m_programDir.isValid());
    QVERIFY(m_registryDir.isValid());
    qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(m_programDir.path()));
    qputenv("VESTREL_REGISTRY_DIR", QFile::encodeName(m_registryDir.path()));

    const QDir bin(qEnvironmentVariable("VESTREL_BIN_DIR"));
    for (const QString& name : {u"VE_ita.dll"_s, u"VE_eng.dll"_s, u"DAVerOdov_ita.dll"_s, u"DAVerOdov_eng.dll"_s})
        QVERIFY2(QFile::copy(bin.filePath(name), m_programDir.filePath(name)), qPrintable(name));
    const QDir fixtures(qEnvironmentVariable("CSLOCALE_FIXTURE_DIR"));
    QVERIFY(QFile::copy(fixtures.filePath(u"Fixture_ita.dll"_s), m_programDir.filePath(u"Fixture_ita.dll"_s)));
}

void TestCsLocale::init() {
    QFile::remove(registryHiveFile(RegistryHive::CurrentUser));
    csLocale::setLanguageChooser({});
    LocaleInstance().DropLibrary();
    LocaleInstance().OnLookup = {};
}

void TestCsLocale::cleanupTestCase() {
    csLocale::setLanguageChooser({});
    LocaleInstance().DropLibrary();
}

void TestCsLocale::selectLanguage_data() {
    QTest::addColumn<std::optional<RegistryValue>>("stored"); // nothing: no key at all
    QTest::addColumn<int>("systemChoice");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("caption");   // text 54032 of the library loaded
    QTest::addColumn<bool>("storeWritten"); // else the hive file must stay byte for byte

    const QString italian = u"Impostazione ricorrenze"_s, english = u"Reminder settings"_s;
    using Stored = std::optional<RegistryValue>;
    QTest::newRow("Italian chosen") << Stored(dword(0)) << 1 << 0 << italian << false;
    QTest::newRow("English chosen") << Stored(dword(1)) << 0 << 1 << english << false;
    QTest::newRow("7 chosen again, Italian") << Stored(dword(7)) << 0 << 0 << italian << true;
    QTest::newRow("7 chosen again, English") << Stored(dword(7)) << 1 << 1 << english << true;
    QTest::newRow("negative") << Stored(dword(-1)) << 1 << 1 << english << true;
    QTest::newRow("no key") << Stored() << 0 << 0 << italian << true;
    QTest::newRow("string value") << Stored(RegistryValue{RegistryType::String, "1"}) << 0 << 0 << italian << true;
    QTest::newRow("short binary value") << Stored(RegistryValue{RegistryType::Binary, QByteArray(1, '\1')}) << 0 << 0
                                        << italian << true;
}

void TestCsLocale::selectLanguage() {
    QFETCH(std::optional<RegistryValue>, stored);
    QFETCH(int, systemChoice);
    QFETCH(int, result);
    QFETCH(QString, caption);
    QFETCH(bool, storeWritten);

    if (stored) {
        Registry registry(RegistryHive::CurrentUser);
        QVERIFY(registry.OpenKey(QByteArray(csLocale::LocaleKey), true));
        registry.WriteValues({{QByteArray(csLocale::LocaleValue), *stored}});
    }
    int chooserCalls = 0;
    csLocale::setLanguageChooser([&] {
        ++chooserCalls;
        return systemChoice;
    });
    const QByteArray before = hiveBytes();

    QCOMPARE(SelectLanguage(u"VE"_s), result);
    QVERIFY(LocaleInstance().LibraryLoaded());
    QCOMPARE(LocalString(54032), caption);
    QCOMPARE(chooserCalls, storeWritten ? 1 : 0);
    if (storeWritten) {
        const auto value = storedLocale();
        QVERIFY(value);
        QCOMPARE(value->type, RegistryType::DWord);
        QCOMPARE(value->data, dword(result).data);
    } else {
        QCOMPARE(hiveBytes(), before);
    }
}

void TestCsLocale::longTextIsCutAt1023() {
    LocaleInstance().UseLibrary(u"Fixture_ita.dll"_s);
    QVERIFY(LocaleInstance().LibraryLoaded());
    QCOMPARE(LocalString(1), u"Testo breve"_s);
    const QString text = LocalString(2);
    QCOMPARE(text.size(), 1023);
    QVERIFY(text.startsWith(u"Testo lungo \u00E8 0123456789"_s));
    QCOMPARE(LocalString(3), QString());
    QCOMPARE(LocalString(-1), QString());
    QCOMPARE(LocalString(0x10001), QString());
}

void TestCsLocale::anotherBaseNameReplacesTheLibrary() {
    csLocale::setLanguageChooser([] { return 0; });
    QCOMPARE(SelectLanguage(u"VE"_s), 0);
    QCOMPARE(LocalString(45130), u"Nessun file di database configurato in config.ini."_s);

    QCOMPARE(SelectLanguage(u"DAVerOdov"_s), 0);
    QCOMPARE(LocalString(49750), u"Chat Vestrel"_s);
    QCOMPARE(LocalString(49855), u"Non mostrare pi\u00F9 questo messaggio"_s);
    QCOMPARE(LocalString(45130), QString());
    QVERIFY(LocaleInstance().LibraryHandle()->FileName().endsWith(u"DAVerOdov_ita.dll"_s));
}

void TestCsLocale::missingLibraryGivesEmptyTexts() {
    csLocale::setLanguageChooser([] { return 1; });
    QCOMPARE(SelectLanguage(u"VE"_s), 1);
    QVERIFY(LocaleInstance().LibraryLoaded());

    // The stored choice stays; only the library is missing, and the one held before is gone.
    QCOMPARE(SelectLanguage(u"Assente"_s), 1);
    QVERIFY(!LocaleInstance().LibraryLoaded());
    QCOMPARE(LocalString(54032), QString());
    QCOMPARE(LocalString(49750), QString());
}

void TestCsLocale::onLookupComesFirst() {
    LocaleInstance().UseLibrary(u"VE_eng.dll"_s);
    LocaleInstance().OnLookup = [](int ident, QString& text) {
        if (ident == 54034)
            text = u"Va bene"_s;
    };
    QCOMPARE(LocalString(54034), u"Va bene"_s);
    QCOMPARE(LocalString(54033), u"Cancel"_s); // the handler delivered nothing: the library answers
}

void TestCsLocale::productLibrariesHoldEveryText_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<QList<int>>("idents");
    QTest::addColumn<std::uint16_t>("language");

    QList<int> chat, reminders{45130};
    for (int id = 49750; id <= 49857; ++id)
        chat << id;
    for (int id = 54032; id <= 54081; ++id)
        reminders << id;
    QTest::newRow("chat, Italian") << u"DAVerOdov_ita.dll"_s << chat << std::uint16_t(0x0410);
    QTest::newRow("chat, English") << u"DAVerOdov_eng.dll"_s << chat << std::uint16_t(0x0409);
    QTest::newRow("reminders, Italian") << u"VE_ita.dll"_s << reminders << std::uint16_t(0x0410);
    QTest::newRow("reminders, English") << u"VE_eng.dll"_s << reminders << std::uint16_t(0x0409);
}

void TestCsLocale::productLibrariesHoldEveryText() {
    QFETCH(QString, library);
    QFETCH(QList<int>, idents);
    QFETCH(std::uint16_t, language);

    const auto loaded = ResourceLibrary::LoadLibrary(library);
    QVERIFY(loaded);
    QCOMPARE(loaded->resources().defaultLanguage(), language);
    for (const int id : idents)
        QVERIFY2(!loaded->LoadString(std::uint32_t(id)).isEmpty(), qPrintable(QString::number(id)));
}

QTEST_GUILESS_MAIN(TestCsLocale)
#include "test_cslocale.moc"
