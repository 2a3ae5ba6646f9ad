#include "sim/transcript_text.h"

#include <type_traits>

namespace sim {

namespace {

constexpr unsigned long kSurrogateFirst = 0xD800;
constexpr unsigned long kSurrogateLowFirst = 0xDC00;
constexpr unsigned long kSurrogateLast = 0xDFFF;
constexpr unsigned long kSurrogateBase = 0x10000;
constexpr unsigned kSurrogateShift = 10;
constexpr unsigned long kTenBits = 0x3FF;
constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A code unit as the unsigned value it is on Windows.
unsigned long code_unit(wchar_t unit) {
    return static_cast<std::make_unsigned_t<wchar_t>>(unit);
}

} // namespace

// The program's wide strings hold UTF-16 code units (as on Windows), so pairs of surrogates are
// joined here.
std::string transcript_text(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        const auto unit = code_unit(*p);
        if (unit == L'\n') {
            out += "\\n";
            continue;
        }
        if (unit >= kSurrogateFirst && unit < kSurrogateLowFirst) {
            const auto next = code_unit(p[1]);
            if (next >= kSurrogateLowFirst && next <= kSurrogateLast) {
                append_utf8(out, static_cast<char32_t>(kSurrogateBase +
                                                       ((unit & kTenBits) << kSurrogateShift) +
                                                       (next & kTenBits)));
                ++p;
                continue;
            }
        }
        const bool lone_surrogate = unit >= kSurrogateFirst && unit <= kSurrogateLast;
        append_utf8(out, lone_surrogate ? kReplacement : static_cast<char32_t>(unit));
    }
    return out;
}

} // namespace sim
