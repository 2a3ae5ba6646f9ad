// The simulated machine of NorvaneFwUpdaterSim.exe: its scenario, its clock, the interface paths of
// its devices and the table of open device handles.
#include "windows/sim_world.h"

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "sim/scenario.h"

namespace {

constexpr std::uint32_t kInstanceBase = 0x1A2B3C4D;
constexpr const wchar_t* kPathPrefix = L"\\\\?\\hid#";
constexpr const wchar_t* kPathClassSuffix = L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr const wchar_t* kHexDigits = L"0123456789abcdef";
constexpr unsigned kHexDigitBits = 4;
constexpr unsigned kDecimalBase = 10;
constexpr std::size_t kMaxOpenDevices = 64;
constexpr DWORD kMaxScenarioBytes = 1 << 20;
constexpr std::uint64_t kMillisecondsPerSecond = 1000;
// Sleep may end up to one timer tick (15.6 ms on Windows) before the time asked for, measured by
// the performance counter. The controllers' mode-change settle time is shortened by that much, so
// that a program that waits exactly the settle time sees the new mode on the real clock too.
constexpr std::uint64_t kSleepSlackMs = 16;

// One open device handle: a real event handle, so that its value never equals another handle of
// the process, standing for one collection of one device.
struct DeviceOpen {
    HANDLE handle = nullptr;
    std::size_t device = 0;
    std::size_t collection = 0;
};

// A fixed table without a destructor: CloseHandle may still be called while the process ends.
DeviceOpen g_open_devices[kMaxOpenDevices];

bool g_loaded = false;
LARGE_INTEGER g_clock_start{};
LARGE_INTEGER g_clock_frequency{};

sim::SimulatedPc& machine_record() {
    static sim::SimulatedPc machine;
    return machine;
}

[[noreturn]] void fail_scenario(const std::string& message) {
    const std::string line = "NorvaneFwUpdaterSim: " + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    OutputDebugStringA(line.c_str());
    ExitProcess(kSimScenarioErrorExit);
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

// The scenario text: the file the environment names, or "{}" for every default.
std::string scenario_text() {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(kSimScenarioVariable, path, MAX_PATH);
    if (length == 0) {
        return "{}";
    }
    if (length >= MAX_PATH) {
        fail_scenario("the scenario path is too long");
    }
    HANDLE file = sim_real_create_file(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail_scenario("cannot read the scenario file " + narrow(path));
    }
    std::string text(kMaxScenarioBytes, '\0');
    DWORD read = 0;
    const BOOL ok = ReadFile(file, text.data(), kMaxScenarioBytes, &read, nullptr);
    sim_real_close_handle(file);
    if (!ok || read == kMaxScenarioBytes) {
        fail_scenario("cannot read the scenario file " + narrow(path));
    }
    text.resize(read);
    return text;
}

void allow_sleep_slack(sim::SimulatedPc& machine) {
    for (sim::SimDevice& device : machine.devices) {
        std::uint64_t& settle = device.controller.mode_settle_ms;
        settle = settle > kSleepSlackMs ? settle - kSleepSlackMs : 0;
    }
}

void load_machine() {
    g_loaded = true;
    QueryPerformanceFrequency(&g_clock_frequency);
    QueryPerformanceCounter(&g_clock_start);
    std::string error;
    if (!sim::load_scenario_text(scenario_text(), machine_record(), error)) {
        fail_scenario("bad scenario: " + error);
    }
    allow_sleep_slack(machine_record());
}

void append_hex(std::wstring& text, std::uint32_t value, unsigned digits) {
    for (unsigned i = digits; i > 0; --i) {
        text.push_back(kHexDigits[(value >> ((i - 1) * kHexDigitBits)) & 0xF]);
    }
}

void append_two_decimal(std::wstring& text, std::size_t value) {
    text.push_back(static_cast<wchar_t>(L'0' + (value / kDecimalBase) % kDecimalBase));
    text.push_back(static_cast<wchar_t>(L'0' + value % kDecimalBase));
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

bool find_interface(const wchar_t* path, std::size_t& device, std::size_t& collection) {
    const auto& devices = sim_machine().devices;
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t c = 0; c < devices[d].collections.size(); ++c) {
            if (same_path(path, sim_interface_path(d, c))) {
                device = d;
                collection = c;
                return true;
            }
        }
    }
    return false;
}

DeviceOpen* open_entry(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    for (DeviceOpen& entry : g_open_devices) {
        if (entry.handle == handle) {
            return &entry;
        }
    }
    return nullptr;
}

HANDLE fail_open(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

template <typename Function> Function kernel32_function(const char* name) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

} // namespace

sim::SimulatedPc& sim_machine() {
    if (!g_loaded) {
        load_machine();
    }
    return machine_record();
}

std::uint64_t sim_now_ms() {
    if (!g_loaded) {
        load_machine();
    }
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<std::uint64_t>(now.QuadPart - g_clock_start.QuadPart);
    return ticks * kMillisecondsPerSecond / static_cast<std::uint64_t>(g_clock_frequency.QuadPart);
}

bool sim_same_guid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

std::wstring sim_interface_path(std::size_t device, std::size_t collection) {
    const sim::SimDevice& target = sim_machine().devices.at(device);
    std::wstring path = kPathPrefix;
    path += L"vid_";
    append_hex(path, target.vendor_id, 4);
    path += L"&pid_";
    append_hex(path, target.product_id, 4);
    if (target.collections.size() > 1) {
        path += L"&col";
        append_two_decimal(path, collection + 1);
    }
    path += L"#7&";
    append_hex(path, static_cast<std::uint32_t>(kInstanceBase + device), 8);
    path += L"&0&0000";
    path += kPathClassSuffix;
    return path;
}

bool sim_is_device_path(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    const std::size_t prefix = std::wcslen(kPathPrefix);
    for (std::size_t i = 0; i < prefix; ++i) {
        if (std::towlower(static_cast<wint_t>(path[i])) != static_cast<wint_t>(kPathPrefix[i])) {
            return false;
        }
    }
    return true;
}

HANDLE sim_open_device(const wchar_t* path) {
    std::size_t device = 0;
    std::size_t collection = 0;
    if (!find_interface(path, device, collection)) {
        return fail_open(ERROR_FILE_NOT_FOUND);
    }
    if (sim_machine().devices[device].unplugged) {
        return fail_open(ERROR_DEVICE_NOT_CONNECTED);
    }
    DeviceOpen* slot = nullptr;
    for (DeviceOpen& entry : g_open_devices) {
        if (entry.handle == nullptr) {
            slot = &entry;
            break;
        }
    }
    if (slot == nullptr) {
        return fail_open(ERROR_TOO_MANY_OPEN_FILES);
    }
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (handle == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    *slot = DeviceOpen{handle, device, collection};
    return handle;
}

bool sim_device_of_handle(HANDLE handle, std::size_t& device, std::size_t& collection) {
    const DeviceOpen* entry = open_entry(handle);
    if (entry == nullptr) {
        return false;
    }
    device = entry->device;
    collection = entry->collection;
    return true;
}

bool sim_release_device_handle(HANDLE handle) {
    DeviceOpen* entry = open_entry(handle);
    if (entry == nullptr) {
        return false;
    }
    *entry = DeviceOpen{};
    return true;
}

HANDLE sim_real_create_file(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE template_file) {
    using CreateFileFunction = decltype(&sim_real_create_file);
    static const auto real = kernel32_function<CreateFileFunction>("CreateFileW");
    return real(path, access, share, security, disposition, flags, template_file);
}

BOOL sim_real_close_handle(HANDLE handle) {
    using CloseHandleFunction = decltype(&sim_real_close_handle);
    static const auto real = kernel32_function<CloseHandleFunction>("CloseHandle");
    return real(handle);
}
