#include "components/csLocale.h"

#include "components/ComponentsLog.h"

#include "platform/Registry.h"

#include <QLocale>

#include <optional>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// LoadString's buffer in characters, so at most one less come back.
constexpr int LookupBufferChars = 1024;

csLocale::LanguageChooser& languageChooser() {
    static csLocale::LanguageChooser chooser;
    return chooser;
}

int chooseFromSystem() {
    if (const auto& chooser = languageChooser())
        return chooser() == 0 ? 0 : 1;
    return QLocale::system().language() == QLocale::Italian ? 0 : 1;
}

// The stored choice, or nothing when the key or value is missing, of another type or out of range.
std::optional<int> readStoredChoice() {
    try {
        Registry registry(RegistryHive::CurrentUser);
        if (!registry.OpenKey(QByteArray(csLocale::LocaleKey), false))
            return std::nullopt;
        const int stored = registry.ReadInteger(QByteArray(csLocale::LocaleValue));
        if (stored != 0 && stored != 1)
            return std::nullopt;
        return stored;
    } catch (const RegistryError& e) {
        qCInfo(lcComponents).noquote() << "the stored language choice cannot be read, choosing again:" << e.what();
        return std::nullopt;
    }
}

void storeChoice(int choice) {
    try {
        Registry registry(RegistryHive::CurrentUser);
        if (registry.OpenKey(QByteArray(csLocale::LocaleKey), true))
            registry.WriteInteger(QByteArray(csLocale::LocaleValue), choice);
    } catch (const RegistryError& e) {
        // Not stored: the choice is made again at the next start.
        qCWarning(lcComponents).noquote() << "cannot store the language choice:" << e.what();
    }
}

} // namespace

void csLocale::setLanguageChooser(LanguageChooser chooser) {
    languageChooser() = std::move(chooser);
}

void TCsLocale::UseLibrary(const QString& fileName) {
    if (LibraryLoaded())
        DropLibrary();
    m_library = ResourceLibrary::LoadLibrary(fileName);
}

void TCsLocale::DropLibrary() {
    m_library.reset();
}

void TCsLocale::LookupString(int ident, QString& text) const {
    if (OnLookup) {
        text.clear();
        OnLookup(ident, text);
        if (!text.isEmpty())
            return;
    }
    // Without a library the texts would come from the program's own string table, and it has none.
    // String numbers are 16-bit.
    if (m_library && ident >= 0 && ident <= 0xFFFF)
        text = m_library->LoadString(static_cast<std::uint32_t>(ident), LookupBufferChars);
    else
        text.clear();
}

TCsLocale& LocaleInstance() {
    static TCsLocale instance;
    return instance;
}

int SelectLanguage(const QString& baseName) {
    const std::optional<int> stored = readStoredChoice();
    const int choice = stored ? *stored : chooseFromSystem();
    LocaleInstance().UseLibrary(baseName + (choice == 0 ? u"_ita.dll"_s : u"_eng.dll"_s));
    if (!stored)
        storeChoice(choice);
    return choice;
}

QString LocalString(int ident) {
    QString text;
    LocaleInstance().LookupString(ident, text);
    return text;
}

} // namespace vestrel
