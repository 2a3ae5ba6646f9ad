#include "device/debug_output.h"

#include <string>

namespace norvane {

namespace {

constexpr DWORD kSystemText = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kTextCapacity = 256;
constexpr DeviceAddress kHexDigitBits = 4;
constexpr DeviceAddress kHexDigitMask = 0xF;
constexpr const wchar_t* kHexDigits = L"0123456789ABCDEF";

std::wstring hex(DeviceAddress value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), kHexDigits[value & kHexDigitMask]);
        value >>= kHexDigitBits;
    } while (value != 0);
    return digits;
}

// The system's text for the error, without the line end it comes with.
std::wstring error_text(DWORD error) {
    wchar_t text[kTextCapacity] = L"";
    DWORD length = FormatMessageW(kSystemText, nullptr, error, 0, text, kTextCapacity, nullptr);
    while (length > 0 &&
           (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ')) {
        --length;
    }
    return length == 0 ? std::wstring(L"no text") : std::wstring(text, length);
}

void output(const wchar_t* step, const std::wstring& what, DWORD error) {
    const std::wstring line = std::wstring(step) + L": " + what + L", error " +
                              std::to_wstring(error) + L" (" + error_text(error) + L")";
    OutputDebugStringW(line.c_str());
}

} // namespace

void _debug_failure_at(const wchar_t* step, DeviceAddress address, DWORD error) {
    output(step, L"address 0x" + hex(address), error);
}

void _debug_failure(const wchar_t* step, const wchar_t* what, DWORD error) {
    output(step, what, error);
}

} // namespace norvane
