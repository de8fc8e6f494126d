// Fuzzes ScanFormatted with formats and inputs from the data. Layout: byte 0 is the format's length,
// bytes 1 to 8 pick the type of each of eight targets, the format and then the input follow. Targets
// live in exactly sized heap blocks so that a write past any of them is caught.
#include "reminders/Scanf.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

using namespace vestrel;
using namespace vestrel::reminders;

namespace {

struct Targets {
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::vector<std::unique_ptr<QByteArray>> values;
    std::vector<ScanTarget> list;

    template <typename T> T* block() {
        blocks.push_back(std::make_unique<unsigned char[]>(sizeof(T)));
        return reinterpret_cast<T*>(blocks.back().get());
    }

    void add(std::uint8_t kind) {
        switch (kind % 12) {
        case 0:
            list.emplace_back(block<std::int8_t>());
            break;
        case 1:
            list.emplace_back(block<std::int16_t>());
            break;
        case 2:
            list.emplace_back(block<std::int32_t>());
            break;
        case 3:
            list.emplace_back(block<std::int64_t>());
            break;
        case 4:
            list.emplace_back(block<float>());
            break;
        case 5:
            list.emplace_back(block<double>());
            break;
        case 6:
            list.emplace_back(block<long double>());
            break;
        case 7:
            list.emplace_back(block<Real48>());
            break;
        case 8:
            list.emplace_back(block<ShortString>());
            break;
        case 9:
            values.push_back(std::make_unique<QByteArray>());
            list.emplace_back(values.back().get());
            break;
        default: {
            const std::size_t size = kind / 12 % 9; // 0 to 8 bytes, 0 being unusable
            blocks.push_back(std::make_unique<unsigned char[]>(size ? size : 1));
            list.emplace_back(CharBuffer{reinterpret_cast<char*>(blocks.back().get()), size});
            break;
        }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9)
        return 0;
    Targets targets;
    for (std::size_t i = 1; i <= 8; ++i)
        targets.add(data[i]);
    const std::size_t rest = size - 9;
    const std::size_t formatLength = data[0] <= rest ? data[0] : rest;
    // Copies, so that reading past either text is caught too.
    const QByteArray format(reinterpret_cast<const char*>(data + 9), qsizetype(formatLength));
    const QByteArray input(reinterpret_cast<const char*>(data + 9 + formatLength), qsizetype(rest - formatLength));
    const int result = ScanFormatted(QByteArrayView(input), QByteArrayView(format), targets.list);
    if (result < -1 || result > 8)
        __builtin_trap();
    return 0;
}
