#include "sim/device_interface.h"

#include <cstdint>
#include <cstring>
#include <cwctype>

namespace sim {

namespace {

constexpr std::uint32_t kInstanceBase = 0x1A2B3C4D;
constexpr const wchar_t* kPathClassSuffix = L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr const wchar_t* kHexDigits = L"0123456789abcdef";
constexpr unsigned kHexDigitBits = 4;
constexpr unsigned kHexDigitMask = 0xF;
constexpr unsigned kIdDigits = 4;       // vendor and product IDs
constexpr unsigned kInstanceDigits = 8; // the instance number
constexpr unsigned kCollectionDigits = 2;
constexpr std::size_t kDecimalBase = 10;

void append_hex(std::wstring& text, std::uint32_t value, unsigned digits) {
    for (unsigned i = digits; i > 0; --i) {
        text.push_back(kHexDigits[(value >> ((i - 1) * kHexDigitBits)) & kHexDigitMask]);
    }
}

// At least `digits` decimal digits, zero-padded.
void append_decimal(std::wstring& text, std::size_t value, unsigned digits) {
    std::wstring reversed;
    do {
        reversed.push_back(static_cast<wchar_t>(L'0' + value % kDecimalBase));
        value /= kDecimalBase;
    } while (value != 0);
    while (reversed.size() < digits) {
        reversed.push_back(L'0');
    }
    text.append(reversed.rbegin(), reversed.rend());
}

bool same_path(const wchar_t* a, const std::wstring& b) {
    std::size_t i = 0;
    for (; i < b.size() && a[i] != L'\0'; ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return a[i] == L'\0' && i == b.size();
}

} // namespace

CallResult call_ok() {
    return CallResult{};
}

CallResult call_refused(DWORD error) {
    return CallResult{false, error, false};
}

CallResult call_misused(DWORD error) {
    return CallResult{false, error, true};
}

bool same_guid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

std::wstring interface_path(const std::vector<SimDevice>& devices, std::size_t device,
                            std::size_t collection) {
    const SimDevice& target = devices.at(device);
    std::wstring path = kHidPathPrefix;
    path += L"vid_";
    append_hex(path, target.vendor_id, kIdDigits);
    path += L"&pid_";
    append_hex(path, target.product_id, kIdDigits);
    if (target.collections.size() > 1) {
        path += L"&col";
        append_decimal(path, collection + 1, kCollectionDigits);
    }
    path += L"#7&";
    append_hex(path, static_cast<std::uint32_t>(kInstanceBase + device), kInstanceDigits);
    path += L"&0&0000";
    path += kPathClassSuffix;
    return path;
}

bool find_interface(const std::vector<SimDevice>& devices, const wchar_t* path, std::size_t& device,
                    std::size_t& collection) {
    if (path == nullptr) {
        return false;
    }
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t c = 0; c < devices[d].collections.size(); ++c) {
            if (same_path(path, interface_path(devices, d, c))) {
                device = d;
                collection = c;
                return true;
            }
        }
    }
    return false;
}

bool resolve_device(std::vector<SimDevice>& devices, std::size_t device, std::size_t collection,
                    DeviceRef& ref) {
    if (device >= devices.size() || collection >= devices[device].collections.size()) {
        return false;
    }
    ref.device = &devices[device];
    ref.collection = collection;
    return true;
}

} // namespace sim
