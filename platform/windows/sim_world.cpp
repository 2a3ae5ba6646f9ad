// The simulated machine of NorvaneFwUpdaterSim.exe: its scenario, its clock and the table of open
// device handles. Interface paths are those of sim/device_interface.h.
#include "windows/sim_world.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

#include "sim/scenario.h"

namespace {

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

bool sim_is_device_path(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    const std::size_t prefix = std::wcslen(sim::kHidPathPrefix);
    for (std::size_t i = 0; i < prefix; ++i) {
        if (std::towlower(static_cast<wint_t>(path[i])) !=
            static_cast<wint_t>(sim::kHidPathPrefix[i])) {
            return false;
        }
    }
    return true;
}

HANDLE sim_open_device(const wchar_t* path) {
    std::size_t device = 0;
    std::size_t collection = 0;
    if (!sim::find_interface(sim_machine().devices, path, device, collection)) {
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
