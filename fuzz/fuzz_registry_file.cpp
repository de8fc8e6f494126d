// Feeds arbitrary bytes to the hive file reader. Whatever it read, values and the lines it could not
// use alike, must come back unchanged after the store rewrites the file.
#include "platform/RegistryFile.h"

#include <cstdint>
#include <cstdlib>

using namespace vestrel;

namespace {

bool sameHive(const regfile::Hive& a, const regfile::Hive& b) {
    if (a.keys.size() != b.keys.size() || a.preamble != b.preamble)
        return false;
    for (std::size_t k = 0; k < a.keys.size(); ++k) {
        const regfile::Key& x = a.keys[k];
        const regfile::Key& y = b.keys[k];
        if (x.path != y.path || x.values.size() != y.values.size() || x.kept.size() != y.kept.size())
            return false;
        for (std::size_t l = 0; l < x.kept.size(); ++l) {
            if (x.kept[l].before != y.kept[l].before || x.kept[l].text != y.kept[l].text)
                return false;
        }
        for (std::size_t v = 0; v < x.values.size(); ++v) {
            if (x.values[v].name != y.values[v].name || x.values[v].type != y.values[v].type ||
                x.values[v].data != y.values[v].data)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    regfile::Hive hive = regfile::parse(bytes);
    const regfile::Hive again = regfile::parse(regfile::serialize(hive));
    if (!sameHive(hive, again))
        std::abort();
    if (!hive.keys.empty()) {
        const QByteArray path = hive.keys.front().path;
        hive.subkeys(path);
        hive.exists(path.left(path.size() / 2));
        hive.obtain(path + "\\New\\Key");
        hive.remove(path);
    }
    return 0;
}
