// vdevctl.exe: installs, refreshes and removes the virtual touchpad controllers of a scenario as
// root devices of Wine's PnP manager, one per top-level collection, driven by norvane_vdev.sys.
// tests/tools/wine/vdev runs it; the driver runs "vdevctl.exe remove N" when a scenario unplugs
// device N. Test-only, never shipped.
//
//   vdevctl.exe up       devices of C:\norvane-vdev\scenario.json, driver from that folder
//   vdevctl.exe remove N the root devices of scenario device N
//   vdevctl.exe down     every virtual device, then the driver's service and files
#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "vdev_model_api.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr unsigned kMaxPlaces = 100; // two decimal digits in the place hardware ID
constexpr DWORD kInterfaceWaitMs = 20000;
constexpr DWORD kPollMs = 20;
constexpr DWORD kDetailBytes = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + MAX_PATH * 4;
constexpr const wchar_t* kServiceName = L"NorvaneVdev";
constexpr const wchar_t* kDriverFile = L"norvane_vdev.sys";

// {4D1E55B2-F16F-11CF-88CB-001111000030}
constexpr GUID kHidInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const char kInfText[] = "[Version]\r\n"
                        "Signature=\"$Windows NT$\"\r\n"
                        "Class=HIDClass\r\n"
                        "ClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\n"
                        "Provider=%Vendor%\r\n"
                        "DriverVer=01/01/2024,1.0.0.0\r\n"
                        "\r\n"
                        "[Manufacturer]\r\n"
                        "%Vendor%=Models,NTamd64\r\n"
                        "\r\n"
                        "[Models.NTamd64]\r\n"
                        "%DeviceName%=Vdev_Install,Root\\NorvaneVdev\r\n"
                        "\r\n"
                        "[Vdev_Install]\r\n"
                        "\r\n"
                        "[Vdev_Install.Services]\r\n"
                        "AddService=NorvaneVdev,0x00000002,Vdev_Service\r\n"
                        "\r\n"
                        "[Vdev_Service]\r\n"
                        "ServiceType=1\r\n"
                        "StartType=3\r\n"
                        "ErrorControl=1\r\n"
                        "ServiceBinary=%12%\\norvane_vdev.sys\r\n"
                        "\r\n"
                        "[Strings]\r\n"
                        "Vendor=\"Norvane test\"\r\n"
                        "DeviceName=\"Norvane virtual touchpad controller\"\r\n"
                        "DiskName=\"vdev\"\r\n";

std::wstring in_folder(const wchar_t* name) {
    return std::wstring(VDEV_FOLDER_W) + L"\\" + name;
}

void fail(const char* what) {
    std::fprintf(stderr, "vdevctl: %s (error %lu)\n", what, GetLastError());
}

std::wstring place_id(unsigned device, unsigned collection) {
    wchar_t id[64];
    std::swprintf(id, 64, L"%ls%02uC%02u", VDEV_PLACE_PREFIX_W, device, collection);
    return id;
}

// The hardware IDs of one device of the list, as one string per ID.
std::vector<std::wstring> hardware_ids(HDEVINFO list, SP_DEVINFO_DATA& info) {
    wchar_t buffer[1024] = L"";
    if (!SetupDiGetDeviceRegistryPropertyW(list, &info, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(buffer),
                                           sizeof(buffer) - sizeof(wchar_t) * 2, nullptr)) {
        return {};
    }
    std::vector<std::wstring> ids;
    for (const wchar_t* id = buffer; *id != L'\0'; id += std::wcslen(id) + 1) {
        ids.emplace_back(id);
    }
    return ids;
}

// Removes the virtual root devices; all of them, or those of one scenario device.
bool remove_devices(int only_device) {
    HDEVINFO list = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (list == INVALID_HANDLE_VALUE) {
        fail("cannot list the devices");
        return false;
    }
    wchar_t prefix[64];
    std::swprintf(prefix, 64, L"%ls%02d", VDEV_PLACE_PREFIX_W, only_device);
    const std::wstring wanted = only_device < 0 ? VDEV_PLACE_PREFIX_W : prefix;
    bool ok = true;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(list, index, &info); ++index) {
        for (const std::wstring& id : hardware_ids(list, info)) {
            if (_wcsnicmp(id.c_str(), wanted.c_str(), wanted.size()) == 0) {
                if (!SetupDiCallClassInstaller(DIF_REMOVE, list, &info)) {
                    fail("cannot remove a device");
                    ok = false;
                }
                break;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(list);
    return ok;
}

bool read_whole(const std::wstring& path, std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    DWORD read = 0;
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    if (ok) {
        bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
        ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
             read == bytes.size();
    }
    CloseHandle(file);
    return ok;
}

bool write_inf(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, kInfText, sizeof(kInfText) - 1, &written, nullptr);
    CloseHandle(file);
    return ok && written == sizeof(kInfText) - 1;
}

// One root device for one collection; its instance ID reads ROOT\VID_vvvv&PID_pppp[&COLnn]\nnnn
// so that hidclass names its interface \\?\hid#vid_vvvv&pid_pppp[&colnn]#... as Windows does.
bool create_collection(HDEVINFO list, const sim::SimDevice& device, unsigned index,
                       unsigned collection, std::vector<std::wstring>& instances) {
    wchar_t name[64];
    if (device.collections.size() > 1) {
        std::swprintf(name, 64, L"VID_%04X&PID_%04X&COL%02u", device.vendor_id, device.product_id,
                      collection + 1);
    } else {
        std::swprintf(name, 64, L"VID_%04X&PID_%04X", device.vendor_id, device.product_id);
    }
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    if (!SetupDiCreateDeviceInfoW(list, name, &GUID_DEVCLASS_HIDCLASS, nullptr, nullptr,
                                  DICD_GENERATE_ID, &info)) {
        fail("cannot create a device");
        return false;
    }
    // The place first, so that a device is never matched by its generic ID before it has one.
    std::wstring ids = place_id(index, collection);
    ids.push_back(L'\0');
    ids += VDEV_INF_HARDWARE_ID_W;
    ids.push_back(L'\0');
    ids.push_back(L'\0');
    if (!SetupDiSetDeviceRegistryPropertyW(list, &info, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size() * sizeof(wchar_t))) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list, &info)) {
        fail("cannot register a device");
        return false;
    }
    wchar_t instance[MAX_DEVICE_ID_LEN] = L"";
    SetupDiGetDeviceInstanceIdW(list, &info, instance, MAX_DEVICE_ID_LEN, nullptr);
    instances.emplace_back(instance);
    return true;
}

// Every present HID interface: its path and its device's instance ID.
struct Interface {
    std::wstring path;
    std::wstring instance;
};

std::vector<Interface> present_interfaces() {
    std::vector<Interface> found;
    HDEVINFO list = SetupDiGetClassDevsW(&kHidInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        return found;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterface, index, &data);
         ++index) {
        std::vector<std::uint8_t> storage(kDetailBytes);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof(info);
        wchar_t instance[MAX_DEVICE_ID_LEN] = L"";
        if (SetupDiGetDeviceInterfaceDetailW(list, &data, detail, kDetailBytes, nullptr, &info) &&
            SetupDiGetDeviceInstanceIdW(list, &info, instance, MAX_DEVICE_ID_LEN, nullptr)) {
            found.push_back({detail->DevicePath, instance});
        }
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

// hidclass names a collection's device HID\<the root device's ID without ROOT\>\...
std::size_t present_collections(const std::vector<std::wstring>& instances) {
    std::size_t count = 0;
    for (const Interface& present : present_interfaces()) {
        for (const std::wstring& instance : instances) {
            const std::size_t enumerator = instance.find(L'\\');
            const std::size_t serial = instance.rfind(L'\\');
            const std::wstring middle = instance.substr(enumerator, serial - enumerator + 1);
            if (present.instance.size() > middle.size() + 3 &&
                _wcsnicmp(present.instance.c_str(), L"HID", 3) == 0 &&
                _wcsnicmp(present.instance.c_str() + 3, middle.c_str(), middle.size()) == 0) {
                ++count;
                break;
            }
        }
    }
    return count;
}

// The exe under test must find every collection at once: wait until hidclass lists them all.
bool wait_for_interfaces(const std::vector<std::wstring>& instances) {
    for (DWORD waited = 0; waited < kInterfaceWaitMs; waited += kPollMs) {
        if (present_collections(instances) >= instances.size()) {
            return true;
        }
        Sleep(kPollMs);
    }
    std::fprintf(stderr, "vdevctl: %zu of %zu interfaces appeared\n",
                 present_collections(instances), instances.size());
    return false;
}

std::wstring installed_driver() {
    wchar_t system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers\\" + kDriverFile;
}

bool same_file(const std::wstring& a, const std::wstring& b) {
    std::string first;
    std::string second;
    return read_whole(a, first) && read_whole(b, second) && first == second;
}

// The driver file goes to System32\drivers here, not by the INF: while winedevice.exe has the
// driver loaded its file cannot be replaced, and then it must be the same build.
bool install_driver_file() {
    const std::wstring source = in_folder(kDriverFile);
    const std::wstring target = installed_driver();
    if (CopyFileW(source.c_str(), target.c_str(), FALSE) || same_file(source, target)) {
        return true;
    }
    std::fprintf(stderr, "vdevctl: another build of the driver is loaded; run vdev down first\n");
    return false;
}

int up() {
    sim::SimulatedPc machine;
    std::string error;
    SetCurrentDirectoryW(VDEV_FOLDER_W);
    if (!sim::load_scenario_file("scenario.json", machine, error)) {
        std::fprintf(stderr, "vdevctl: bad scenario: %s\n", error.c_str());
        return kExitUsage;
    }
    for (const sim::SimDevice& device : machine.devices) {
        for (const sim::SimCollection& collection : device.collections) {
            if (collection.feature_value_caps > 1) {
                std::fprintf(stderr, "vdevctl: a collection has at most one feature value here\n");
                return kExitUsage;
            }
        }
        if (device.collections.size() >= kMaxPlaces) {
            std::fprintf(stderr, "vdevctl: too many collections\n");
            return kExitUsage;
        }
    }
    if (machine.devices.size() >= kMaxPlaces) {
        std::fprintf(stderr, "vdevctl: too many devices\n");
        return kExitUsage;
    }
    if (!remove_devices(-1)) {
        return kExitFailed;
    }
    const std::wstring inf = in_folder(L"norvane_vdev.inf");
    if (!install_driver_file()) {
        return kExitFailed;
    }
    if (!write_inf(inf)) {
        fail("cannot write the INF");
        return kExitFailed;
    }
    HDEVINFO list = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr);
    if (list == INVALID_HANDLE_VALUE) {
        fail("cannot make a device list");
        return kExitFailed;
    }
    std::vector<std::wstring> instances;
    bool ok = true;
    for (unsigned d = 0; d < machine.devices.size() && ok; ++d) {
        for (unsigned c = 0; c < machine.devices[d].collections.size() && ok; ++c) {
            ok = create_collection(list, machine.devices[d], d, c, instances);
        }
    }
    SetupDiDestroyDeviceInfoList(list);
    if (!ok) {
        return kExitFailed;
    }
    if (instances.empty()) {
        return kExitOk;
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, VDEV_INF_HARDWARE_ID_W, inf.c_str(),
                                            INSTALLFLAG_FORCE, &reboot)) {
        fail("cannot install the driver");
        return kExitFailed;
    }
    return wait_for_interfaces(instances) ? kExitOk : kExitFailed;
}

bool delete_service() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        fail("cannot open the service manager");
        return false;
    }
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    bool ok = true;
    if (service != nullptr) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            fail("cannot delete the driver's service");
            ok = false;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return ok;
}

int down() {
    bool ok = remove_devices(-1);
    ok = delete_service() && ok;
    DeleteFileW(installed_driver().c_str());
    return ok ? kExitOk : kExitFailed;
}

int list_interfaces() {
    for (const Interface& present : present_interfaces()) {
        std::wprintf(L"%ls %ls\n", present.path.c_str(), present.instance.c_str());
    }
    return kExitOk;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"up") == 0) {
        return up();
    }
    if (argc == 3 && std::wcscmp(argv[1], L"remove") == 0) {
        const unsigned long device = std::wcstoul(argv[2], nullptr, 10);
        return device < kMaxPlaces && remove_devices(static_cast<int>(device)) ? kExitOk
                                                                               : kExitFailed;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"list") == 0) {
        return list_interfaces();
    }
    if (argc == 2 && std::wcscmp(argv[1], L"down") == 0) {
        return down();
    }
    std::fprintf(stderr, "usage: vdevctl.exe up | remove N | down\n");
    return kExitUsage;
}
