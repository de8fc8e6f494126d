#pragma once

#include "platform/ResourceLibrary.h"

#include <QString>

#include <functional>
#include <memory>

namespace vestrel {

// The process-wide source of localised texts: a resource-only library chosen per user ("Locale" in
// HKEY_CURRENT_USER "\software\pelk software\vestrel": 0 Italian, 1 English) whose string table gives the
// texts by number. Used from the user-interface thread only.
class TCsLocale {
public:
    using TLookupEvent = std::function<void(int ident, QString& text)>;

    // Loads `fileName` by the library search (program directory first), replacing a library held before.
    // A missing library leaves none held: every text is then empty, and nothing is shown.
    void UseLibrary(const QString& fileName);
    void DropLibrary();

    // The text `ident` of the loaded library, at most 1023 characters; empty when it lacks the number.
    // An assigned OnLookup is asked first and wins when it delivers a non-empty text.
    void LookupString(int ident, QString& text) const;

    bool LibraryLoaded() const { return m_library != nullptr; }
    const ResourceLibrary* LibraryHandle() const { return m_library.get(); }

    // Always false here: there is no design environment that would take the texts from the program.
    bool InDesignEnvironment() const { return false; }

    TLookupEvent OnLookup;

private:
    std::unique_ptr<ResourceLibrary> m_library;
};

// The one instance, created on first use and kept until the process ends.
TCsLocale& LocaleInstance();

// Chooses the language from "Locale" (choosing and storing it when it holds no valid choice), loads
// baseName + "_ita.dll" or baseName + "_eng.dll" and returns the value in force: 0 Italian, 1 English.
int SelectLanguage(const QString& baseName);

// LookupString on LocaleInstance().
QString LocalString(int ident);

namespace csLocale {

// How the language is chosen when none is stored: returns 0 (Italian) or 1 (English). By default
// Italian when the user's locale language is Italian, else English. Tests set their own; an empty
// function restores the default.
using LanguageChooser = std::function<int()>;
void setLanguageChooser(LanguageChooser chooser);

// The registry key and value that hold the choice.
inline constexpr char LocaleKey[] = "\\software\\pelk software\\vestrel";
inline constexpr char LocaleValue[] = "Locale";

} // namespace csLocale

} // namespace vestrel
