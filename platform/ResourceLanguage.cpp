#include "platform/ResourceLanguage.h"

#include <unicode/uloc.h>

#include <algorithm>

namespace vestrel {

namespace {

constexpr std::uint16_t kEnglishUS = 0x0409;
constexpr std::uint16_t kSubLanguageDefault = 0x0400;

std::uint16_t primaryLanguage(std::uint16_t language) {
    return language & 0x03FF;
}

} // namespace

std::optional<std::uint16_t> windowsLanguageId(const QLocale& locale) {
    // Qt lists the first language in several spellings ("it-Latn-IT", "it-IT", "it"); ICU knows the
    // Windows identifiers of some only (and spells locales with "_"). The most specific of the first
    // language's spellings counts: one with its sublanguage ("it-IT": 0x0410) before a bare one (0x0010).
    std::optional<std::uint16_t> found;
    for (const QString& name : locale.uiLanguages()) {
        const QByteArray icuName = name.toLatin1().replace('-', '_');
        const auto language = std::uint16_t(uloc_getLCID(icuName.constData()) & 0xFFFF);
        // 0 is no answer; 0x7F is the invariant locale ICU gives the C locale.
        if (language == 0 || primaryLanguage(language) == 0x7F)
            continue;
        if (found && primaryLanguage(language) != primaryLanguage(*found))
            break; // the user's next language
        if (!found || (language & ~0x03FF) != 0)
            found = language;
        if ((language & ~0x03FF) != 0)
            break;
    }
    return found;
}

std::optional<std::size_t> loaderLanguageChoice(const std::vector<std::uint16_t>& available,
                                                std::optional<std::uint16_t> userLanguage) {
    if (available.empty())
        return std::nullopt;
    const auto position = [&](auto&& matches) -> std::optional<std::size_t> {
        const auto found = std::find_if(available.begin(), available.end(), matches);
        if (found == available.end())
            return std::nullopt;
        return std::size_t(found - available.begin());
    };
    const auto is = [](std::uint16_t wanted) {
        return [wanted](std::uint16_t language) {
            return language == wanted;
        };
    };
    if (userLanguage) {
        const std::uint16_t primary = primaryLanguage(*userLanguage);
        for (const std::uint16_t wanted : {*userLanguage, primary, std::uint16_t(primary | kSubLanguageDefault)}) {
            if (const auto at = position(is(wanted)))
                return at;
        }
    }
    if (const auto neutral = position([](std::uint16_t language) { return primaryLanguage(language) == 0; }))
        return neutral;
    if (const auto english = position(is(kEnglishUS)))
        return english;
    return std::size_t(0);
}

} // namespace vestrel
