// Feeds arbitrary bytes to the PE resource reader and looks up what the programs look up.
#include "platform/ResourceLanguage.h"
#include "platform/ResourceLibrary.h"

#include <cstdint>

using namespace vestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto resources = PeResources::fromBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!resources)
        return 0;
    resources->defaultLanguage();
    for (const std::uint32_t id : {0u, 1u, 15u, 16u, 17u, 100u, 4000u})
        resources->string(id);
    resources->find(RT_VERSION_TYPE, 1);
    // The version resource in the language the Windows loader would give an Italian user.
    const auto languages = resources->languages(RT_VERSION_TYPE, 1);
    if (const auto chosen = loaderLanguageChoice(languages, 0x0410))
        resources->find(RT_VERSION_TYPE, 1, languages.at(*chosen));
    resources->languages(RT_STRING_TYPE, 1);
    return 0;
}
