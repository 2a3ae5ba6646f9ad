#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

constexpr std::uint8_t kWideEscape = 0xFF;
constexpr unsigned kByteBits = 8;

} // namespace

const harness::ScratchFolder& scratch_folder() {
    static const harness::ScratchFolder folder("norvane-fuzz");
    return folder;
}

void fail(const std::string& message) {
    (void)std::fprintf(stderr, "fuzz: RULE BROKEN: %s\n", message.c_str());
    (void)std::fflush(stderr);
    std::abort();
}

std::uint8_t ByteReader::byte() {
    if (exhausted()) {
        return 0;
    }
    return data_[position_++];
}

std::uint16_t ByteReader::word() {
    const std::uint16_t low = byte();
    return static_cast<std::uint16_t>(low | (byte() << kByteBits));
}

std::wstring wide_text(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i) {
        wchar_t unit = data[i];
        if (data[i] == kWideEscape && i + 2 < size) {
            unit = static_cast<wchar_t>((data[i + 1] << kByteBits) | data[i + 2]);
            i += 2;
        }
        if (unit == 0) {
            break;
        }
        text += unit;
    }
    return text;
}

} // namespace fuzz
