// kernel32 stand-ins for the simulated PC's clock, power source and debugger output.
#include <chrono>
#include <ctime>
#include <map>
#include <string>
#include <thread>

#include "host/clock.h"
#include "host/wide_path.h"
#include "host/win32_host.h"
#include "sim/simulated_pc.h"
#include "sim/transcript_text.h"
#include "sim/windows_clock.h"

namespace {

constexpr int kTmYearBase = 1900;
constexpr int kMsPerSecond = 1000;
constexpr BYTE kBatteryUnknown = 255;
constexpr DWORD kLifeUnknown = 0xFFFFFFFF;
// The performance counter runs at 10 MHz, as on current Windows, over the virtual clock.
constexpr auto kCounterTicksPerMs = static_cast<LONGLONG>(sim::kTimeUnitsPerMs);

// The start time plus the virtual milliseconds elapsed, on the calendar.
SYSTEMTIME local_time_now() {
    const sim::SimulatedPc& machine = sim::pc();
    std::tm start{};
    start.tm_year = machine.start_time.year - kTmYearBase;
    start.tm_mon = machine.start_time.month - 1;
    start.tm_mday = machine.start_time.day;
    start.tm_hour = machine.start_time.hour;
    start.tm_min = machine.start_time.minute;
    start.tm_sec = machine.start_time.second;
    const std::time_t seconds =
        timegm(&start) + static_cast<std::time_t>(sim::now_ms() / kMsPerSecond);
    std::tm now{};
    gmtime_r(&seconds, &now);
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(now.tm_year + kTmYearBase);
    time.wMonth = static_cast<WORD>(now.tm_mon + 1);
    time.wDayOfWeek = static_cast<WORD>(now.tm_wday);
    time.wDay = static_cast<WORD>(now.tm_mday);
    time.wHour = static_cast<WORD>(now.tm_hour);
    time.wMinute = static_cast<WORD>(now.tm_min);
    time.wSecond = static_cast<WORD>(now.tm_sec);
    time.wMilliseconds = static_cast<WORD>(sim::now_ms() % kMsPerSecond);
    return time;
}

// Really sleeps for a pause. The overshoot of each sleep is carried over and taken off the next
// one, so a run of many short pauses sleeps their sum, not their sum plus every overshoot.
void real_sleep(std::uint64_t time_units) {
    constexpr std::uint64_t kNsPerTimeUnit = 100;
    static std::chrono::nanoseconds overslept{0};
    const auto start = std::chrono::steady_clock::now();
    const auto wanted = std::chrono::nanoseconds(time_units * kNsPerTimeUnit);
    if (wanted > overslept) {
        std::this_thread::sleep_until(start + (wanted - overslept));
    }
    overslept += (std::chrono::steady_clock::now() - start) - wanted;
}

} // namespace

void host_pass_time_to(std::uint64_t time) {
    sim::SimulatedPc& machine = sim::pc();
    if (time <= machine.virtual_time) {
        return;
    }
    const std::uint64_t passing = time - machine.virtual_time;
    machine.virtual_time = time;
    if (machine.real_time) {
        real_sleep(passing);
    }
}

extern "C" {

// Ends as the clock ends a time-out: on an exact clock when it is due.
void Sleep(DWORD milliseconds) {
    ++sim::pc().sleep_calls;
    host_pass_time_to(
        sim::timeout_end(sim::pc().clock, sim::now(), milliseconds * sim::kTimeUnitsPerMs));
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (count == nullptr) {
        return FALSE;
    }
    count->QuadPart = static_cast<LONGLONG>(sim::now()); // one count per 100 ns time unit
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (frequency == nullptr) {
        return FALSE;
    }
    frequency->QuadPart = kCounterTicksPerMs * kMsPerSecond;
    return TRUE;
}

void GetLocalTime(SYSTEMTIME* time) {
    *time = local_time_now();
}

BOOL GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
    const sim::SimulatedPc& machine = sim::pc();
    if (machine.power_call_fails) {
        return FALSE;
    }
    *status = SYSTEM_POWER_STATUS{};
    status->ACLineStatus = machine.ac_line_status;
    status->BatteryFlag = kBatteryUnknown;
    status->BatteryLifePercent = kBatteryUnknown;
    status->BatteryLifeTime = kLifeUnknown;
    status->BatteryFullLifeTime = kLifeUnknown;
    return TRUE;
}

void OutputDebugStringW(LPCWSTR text) {
    sim::record_event("debug " + sim::transcript_text(text));
}

// The program's own module, and kernel32 (any case), whose functions it may look up.
HMODULE GetModuleHandleW(LPCWSTR module_name) {
    static int program_module;
    static int kernel32_module;
    if (module_name == nullptr) {
        return reinterpret_cast<HMODULE>(&program_module);
    }
    return host_names_equal(module_name, L"kernel32.dll")
               ? reinterpret_cast<HMODULE>(&kernel32_module)
               : nullptr;
}

// The system's texts of the errors the stand-ins give, as Windows words them (with its line end);
// 0 for any other error, as for a message Windows does not have.
DWORD FormatMessageW(DWORD flags, LPCVOID /*source*/, DWORD message_id, DWORD /*language_id*/,
                     LPWSTR buffer, DWORD size, void* /*arguments*/) {
    static const std::map<DWORD, const wchar_t*> kTexts = {
        {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified."},
        {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified."},
        {ERROR_ACCESS_DENIED, L"Access is denied."},
        {ERROR_INVALID_HANDLE, L"The handle is invalid."},
        {ERROR_GEN_FAILURE, L"A device attached to the system is not functioning."},
        {ERROR_INVALID_PARAMETER, L"The parameter is incorrect."},
        {ERROR_DEVICE_NOT_CONNECTED, L"The device is not connected."}};
    const auto found = kTexts.find(message_id);
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || found == kTexts.end() || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring text = std::wstring(found->second) + L"\r\n";
    if (size < text.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

} // extern "C"
