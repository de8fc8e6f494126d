// Feeds arbitrary bytes to the INI text reader and checks that what it understood survives a
// rewrite unchanged, as every write of IniFile relies on.
#include "platform/IniText.h"

#include <cstdint>
#include <cstdlib>

using namespace vestrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const initext::Text text = initext::parse(bytes);
    const initext::Text again = initext::parse(initext::serialize(text));
    if (again.lines.size() != text.lines.size() || again.newline != text.newline)
        std::abort();
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        const initext::Line& a = text.lines[i];
        const initext::Line& b = again.lines[i];
        if (a.kind != b.kind || a.name != b.name || a.raw != b.raw)
            std::abort();
        // Every line keeps its own end; only an unterminated last line gains the file's.
        if (!a.end.isEmpty() && a.end != b.end)
            std::abort();
        if (a.kind == initext::Line::Kind::Key)
            initext::parseInteger(initext::valueOf(a));
    }
    return 0;
}
