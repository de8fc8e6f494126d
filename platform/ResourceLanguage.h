#pragma once

#include <QLocale>

#include <cstdint>
#include <optional>
#include <vector>

namespace vestrel {

// The Windows language identifier (LANGID: primary language in the low 10 bits, sublanguage above)
// of the first user-interface language of `locale` (for the system locale: LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG): 0x0410 for it_IT, 0x0010 for a bare "it".
// nullopt for locales Windows has no identifier for (the C locale among them).
std::optional<std::uint16_t> windowsLanguageId(const QLocale& locale);

// Of the languages a file holds for one resource, the position of the one the Windows resource loader
// takes for a user of `userLanguage`: that language, then the user's primary language without or with
// its default sublanguage, then a neutral one, then English (US), then the first. nullopt when
// `available` is empty.
std::optional<std::size_t> loaderLanguageChoice(const std::vector<std::uint16_t>& available,
                                                std::optional<std::uint16_t> userLanguage);

} // namespace vestrel
