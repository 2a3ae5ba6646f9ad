// Hardware IDs of mouse-interface devices look like "ACPI\*VORK0810&..." or "HID\*VORK0810&...":
// a touchpad PnP ID is the nine characters at positions 4 to 12 of a string that holds "*VORK" at
// position 4 and "&" at position 13.
#include "target/touchpad_pnp_id.h"

#include <cstring>

#include "platform/win32.h"

namespace norvane {

namespace {

// GUID_DEVINTERFACE_MOUSE {378DE44C-56EF-11D1-BC8C-00A0C91405DD}
constexpr GUID kMouseInterfaceGuid = {
    0x378DE44C, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};
constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kHardwareIdBufferSize = 260;

constexpr const char* kPnpIdPrefix = "*VORK";
constexpr std::size_t kPnpIdStart = 4;
constexpr std::size_t kPnpIdLength = 9;
constexpr std::size_t kSeparatorPosition = 13;
constexpr char kSeparator = '&';

constexpr const char* kAcceptedPnpIds[] = {"*VORK0810", "*VORK080E", "*VORK0812",
                                           "*VORK0811", "*VORK080F", "*VORK0813"};

// Length of the string at `text`, never looking past `end`; `end - text` when unterminated.
std::size_t bounded_length(const char* text, const char* end) {
    const char* p = text;
    while (p < end && *p != '\0') {
        ++p;
    }
    return static_cast<std::size_t>(p - text);
}

bool matches(const char* id, std::size_t length) {
    return length > kSeparatorPosition &&
           std::memcmp(id + kPnpIdStart, kPnpIdPrefix, std::strlen(kPnpIdPrefix)) == 0 &&
           id[kSeparatorPosition] == kSeparator;
}

// Walks one device's hardware-ID list; the last matching string wins.
bool scan_hardware_ids(const char* list, std::size_t size, char* buffer) {
    bool found = false;
    const char* end = list + size;
    for (const char* id = list; id < end && *id != '\0';) {
        const std::size_t length = bounded_length(id, end);
        if (matches(id, length)) {
            std::memcpy(buffer, id + kPnpIdStart, kPnpIdLength);
            buffer[kPnpIdLength] = '\0';
            found = true;
        }
        id += length + 1;
    }
    return found;
}

} // namespace

bool _get_touchpad_pnp_id(char* buffer) {
    if (buffer == nullptr) {
        return false;
    }
    HDEVINFO devices =
        SetupDiGetClassDevsA(&kMouseInterfaceGuid, nullptr, nullptr, kPresentInterfaces);
    if (devices == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool found = false;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(devices, index, &device)) {
            break;
        }
        BYTE ids[kHardwareIdBufferSize] = {};
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, &type, ids,
                                               kHardwareIdBufferSize, nullptr)) {
            continue;
        }
        found =
            scan_hardware_ids(reinterpret_cast<const char*>(ids), kHardwareIdBufferSize, buffer) ||
            found;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

bool _is_target_pnp_id(const char* pnp_id) {
    for (const char* accepted : kAcceptedPnpIds) {
        if (std::strcmp(pnp_id, accepted) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace norvane
