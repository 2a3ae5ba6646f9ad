// Model side of the virtual touchpad controller driver: the scenario's devices, each with the one
// controller model of sim, behind the kernel-side glue (vdev_kernel.c). Runs inside
// Wine's winedevice.exe, so kernel32 is at hand for the scenario, transcript and state files.
// Test-only, never shipped.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/device_scenario.h"
#include "sim/hid_device.h"
#include "sim/image_file.h"
#include "sim/scenario.h"
#include "vdev_model_api.h"

namespace {

constexpr DWORD kMaxStampBytes = 64;
constexpr std::uint64_t kMillisecondsPerSecond = 1000;
// Sleep may end up to one timer tick before the time asked for; the settle time and the pause the
// controller needs after a mode change are shortened by that much, so that a program that waits
// exactly that long is taken. The real clock does not judge the pauses between writes: the time a
// request takes through Wine's HID stack is part of it.
constexpr std::uint64_t kSleepSlackMs = 16;
constexpr std::size_t kHexPerByte = 3; // " XX"

// HID report descriptor items of one vendor collection.
constexpr std::uint8_t kItemUsagePage16 = 0x06;
constexpr std::uint8_t kItemUsage8 = 0x09;
constexpr std::uint8_t kItemCollection = 0xA1;
constexpr std::uint8_t kCollectionApplication = 0x01;
constexpr std::uint8_t kItemReportId = 0x85;
constexpr std::uint8_t kItemLogicalMin8 = 0x15;
constexpr std::uint8_t kItemLogicalMax16 = 0x26;
constexpr std::uint8_t kItemReportSize = 0x75;
constexpr std::uint8_t kItemReportCount16 = 0x96;
constexpr std::uint8_t kItemFeature = 0xB1;
constexpr std::uint8_t kItemInput = 0x81;
constexpr std::uint8_t kMainDataVariable = 0x02;
constexpr std::uint8_t kItemEndCollection = 0xC0;
constexpr std::uint8_t kTopUsage = 0x01;
constexpr std::uint8_t kValueBits = 8;
constexpr std::uint8_t kByteMax = 0xFF;

struct Model {
    sim::SimulatedPc machine;
    std::string stamp;                    // generation stamp of the loaded scenario
    std::vector<std::uint8_t> image_main; // main section of the folder image, empty without one
    std::vector<bool> removal_started;    // by device
    HANDLE transcript = INVALID_HANDLE_VALUE;
    HANDLE state = INVALID_HANDLE_VALUE;
    LARGE_INTEGER clock_start{};
    LARGE_INTEGER clock_frequency{};
};

// A fixed record without a destructor: the driver may be called while the process ends.
Model* g_model = nullptr;
CRITICAL_SECTION g_lock;

std::wstring in_folder(const wchar_t* name) {
    return std::wstring(VDEV_FOLDER_W) + L"\\" + name;
}

bool read_file(const std::wstring& path, std::string& text, DWORD limit) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    text.assign(limit, '\0');
    DWORD read = 0;
    const BOOL ok = ReadFile(file, text.data(), limit, &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    return ok != FALSE;
}

HANDLE open_output(const wchar_t* name) {
    return CreateFileW(in_folder(name).c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void write_all(HANDLE file, const std::string& text) {
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

// The real clock since the model started, in the model's units of 100 ns.
std::uint64_t now(const Model& model) {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart - model.clock_start.QuadPart);
    const auto frequency = static_cast<std::uint64_t>(model.clock_frequency.QuadPart);
    const std::uint64_t units_per_second = kMillisecondsPerSecond * sim::kTimeUnitsPerMs;
    return ticks / frequency * units_per_second + ticks % frequency * units_per_second / frequency;
}

// The main section of the single image the folder holds, as the scenario defaults see it.
std::vector<std::uint8_t> folder_image_main() {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(in_folder(L"*.bin").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return {};
    }
    FindClose(search);
    std::string bytes;
    sim::ImageFile image;
    if (!read_file(in_folder(found.cFileName), bytes, sim::kImageFileBytes + 1) ||
        bytes.size() != sim::kImageFileBytes ||
        !sim::decode_image_file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                image)) {
        return {};
    }
    return image.main_image;
}

// Loads the folder's scenario the way fwsim does, with the folder as current directory so that
// its image gives the defaults.
bool load_scenario(Model& model) {
    wchar_t previous[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(VDEV_FOLDER_W);
    std::string error;
    sim::SimulatedPc machine;
    const bool loaded = sim::load_scenario_file("scenario.json", machine, error);
    SetCurrentDirectoryW(previous);
    if (!loaded) {
        OutputDebugStringA(("norvane_vdev: " + error + "\n").c_str());
        return false;
    }
    for (sim::SimDevice& device : machine.devices) {
        for (std::uint64_t* pause :
             {&device.controller.mode_settle_ms, &device.controller.mode_pause_ms}) {
            *pause = *pause > kSleepSlackMs ? *pause - kSleepSlackMs : 0;
        }
        device.controller.write_pause_ms = 0;
    }
    model.machine = std::move(machine);
    model.removal_started.assign(model.machine.devices.size(), false);
    return true;
}

std::string state_text(const Model& model) {
    std::string text;
    const std::uint64_t time = now(model);
    for (std::size_t i = 0; i < model.machine.devices.size(); ++i) {
        const sim::Controller& controller = model.machine.devices[i].controller;
        const std::vector<std::uint8_t>& main = controller.main_memory;
        const char* content = "other";
        if (!model.image_main.empty() && main == model.image_main) {
            content = "image";
        } else if (std::all_of(main.begin(), main.end(),
                               [](std::uint8_t byte) { return byte == sim::kErasedByte; })) {
            content = "blank";
        }
        const bool access =
            sim::controller_group_value(controller, sim::kEnableRegister) == sim::kRegisterOn;
        // Handles are kept by the class driver above this one; none is seen down here.
        char line[128];
        std::snprintf(line, sizeof(line), "state %zu main=%s mode=0x%02X access=%s handles=0\n", i,
                      content, sim::controller_peek(controller, sim::kModeStatusAddress, time),
                      access ? "on" : "off");
        text += line;
    }
    return text;
}

// The end state is rewritten after every call, so that it can be read at any time.
void write_state(Model& model) {
    if (model.state == INVALID_HANDLE_VALUE) {
        return;
    }
    SetFilePointer(model.state, 0, nullptr, FILE_BEGIN);
    write_all(model.state, state_text(model));
    SetEndOfFile(model.state);
}

void append_transcript(const Model& model, const char* kind, unsigned device,
                       const std::uint8_t* bytes, std::size_t length, bool ok) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string line = kind;
    line += ' ';
    line += std::to_string(device);
    line.reserve(line.size() + length * kHexPerByte + sizeof(" failed\n"));
    for (std::size_t i = 0; i < length; ++i) {
        line += ' ';
        line += kDigits[bytes[i] >> 4];
        line += kDigits[bytes[i] & 0x0F];
    }
    line += ok ? "\n" : " failed\n";
    write_all(model.transcript, line);
}

// A device the scenario unplugs leaves Wine's device tree for real: vdevctl.exe removes its root
// devices, from a process of its own, because removal waits for this driver's requests to end.
void start_removal(Model& model, unsigned device) {
    if (!model.machine.devices[device].unplugged || model.removal_started[device]) {
        return;
    }
    model.removal_started[device] = true;
    std::wstring command =
        L"\"" + in_folder(L"vdevctl.exe") + L"\" remove " + std::to_wstring(device);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       VDEV_FOLDER_W, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

sim::SimDevice* device_at(unsigned device, unsigned collection) {
    if (g_model == nullptr || device >= g_model->machine.devices.size() ||
        collection >= g_model->machine.devices[device].collections.size()) {
        return nullptr;
    }
    return &g_model->machine.devices[device];
}

void build_descriptor(const sim::SimCollection& collection, vdev_collection_info& info) {
    std::vector<std::uint8_t> items = {kItemUsagePage16,
                                       static_cast<std::uint8_t>(collection.usage_page & kByteMax),
                                       static_cast<std::uint8_t>(collection.usage_page >> 8),
                                       kItemUsage8,
                                       kTopUsage,
                                       kItemCollection,
                                       kCollectionApplication};
    if (collection.report_id != 0) {
        items.insert(items.end(), {kItemReportId, collection.report_id});
    }
    items.insert(items.end(), {kItemUsage8, kTopUsage, kItemLogicalMin8, 0, kItemLogicalMax16,
                               kByteMax, 0, kItemReportSize, kValueBits, kItemReportCount16,
                               static_cast<std::uint8_t>(collection.report_count & kByteMax),
                               static_cast<std::uint8_t>(collection.report_count >> 8),
                               collection.feature_value_caps == 0 ? kItemInput : kItemFeature,
                               kMainDataVariable, kItemEndCollection});
    std::memcpy(info.descriptor, items.data(), items.size());
    info.descriptor_length = static_cast<unsigned>(items.size());
}

// hidclass leaves the report ID byte out when a collection has no report IDs; the model always
// takes it in byte 0.
std::vector<std::uint8_t> framed(const sim::SimCollection& collection, const std::uint8_t* report,
                                 std::size_t length) {
    const std::size_t offset = collection.report_id == 0 ? 1 : 0;
    std::vector<std::uint8_t> frame(offset + length, 0);
    if (length != 0) {
        std::memcpy(frame.data() + offset, report, length);
    }
    return frame;
}

int call_result(const sim::SimDevice& device, bool ok) {
    if (device.unplugged) {
        return VDEV_CALL_GONE;
    }
    return ok ? VDEV_CALL_OK : VDEV_CALL_FAILED;
}

struct Lock {
    Lock() {
        EnterCriticalSection(&g_lock);
    }
    ~Lock() {
        LeaveCriticalSection(&g_lock);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

} // namespace

extern "C" int vdev_model_refresh(void) {
    Lock lock;
    std::string stamp;
    if (!read_file(in_folder(L"generation"), stamp, kMaxStampBytes)) {
        return 0;
    }
    if (g_model != nullptr && stamp == g_model->stamp) {
        return 1;
    }
    auto* model = new Model;
    QueryPerformanceFrequency(&model->clock_frequency);
    QueryPerformanceCounter(&model->clock_start);
    if (!load_scenario(*model)) {
        delete model;
        return 0;
    }
    model->stamp = stamp;
    model->image_main = folder_image_main();
    if (g_model != nullptr) {
        CloseHandle(g_model->transcript);
        CloseHandle(g_model->state);
    }
    model->transcript = open_output(L"transcript.txt");
    model->state = open_output(L"state.txt");
    g_model = model; // the previous generation's record is left alone: its devices may be leaving
    write_state(*model);
    return 1;
}

extern "C" int vdev_model_describe(unsigned device, unsigned collection,
                                   vdev_collection_info* info) {
    Lock lock;
    const sim::SimDevice* simulated = device_at(device, collection);
    if (simulated == nullptr) {
        return 0;
    }
    std::memset(info, 0, sizeof(*info));
    info->vendor_id = simulated->vendor_id;
    info->product_id = simulated->product_id;
    info->version_number = simulated->version_number;
    const sim::SimCollection& chosen = simulated->collections[collection];
    info->report_id = chosen.report_id;
    info->report_length = static_cast<unsigned short>(chosen.report_count + 1);
    build_descriptor(chosen, *info);
    return 1;
}

extern "C" int vdev_model_set_feature(unsigned device, unsigned collection,
                                      const unsigned char* report, unsigned length) {
    Lock lock;
    sim::SimDevice* simulated = device_at(device, collection);
    if (simulated == nullptr) {
        return VDEV_CALL_GONE;
    }
    const std::vector<std::uint8_t> frame =
        framed(simulated->collections[collection], report, length);
    const bool ok =
        sim::device_set_feature(*simulated, collection, frame.data(), frame.size(), now(*g_model));
    append_transcript(*g_model, "SET", device, frame.data(), frame.size(), ok);
    write_state(*g_model);
    start_removal(*g_model, device);
    return call_result(*simulated, ok);
}

extern "C" int vdev_model_get_feature(unsigned device, unsigned collection, unsigned char* report,
                                      unsigned length) {
    Lock lock;
    sim::SimDevice* simulated = device_at(device, collection);
    if (simulated == nullptr) {
        return VDEV_CALL_GONE;
    }
    std::vector<std::uint8_t> frame = framed(simulated->collections[collection], report, length);
    const bool ok =
        sim::device_get_feature(*simulated, collection, frame.data(), frame.size(), now(*g_model));
    const std::size_t skipped = frame.size() - length;
    if (ok) {
        std::memcpy(report, frame.data() + skipped, length);
    }
    append_transcript(*g_model, "GET", device, frame.data(), ok ? frame.size() : 0, ok);
    write_state(*g_model);
    start_removal(*g_model, device);
    return call_result(*simulated, ok);
}

// ---- entry -----------------------------------------------------------------------------------

extern "C" IMAGE_DOS_HEADER __ImageBase;
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);
extern "C" LONG WINAPI vdev_driver_entry(void* driver, void* registry_path);

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
    }
    return TRUE;
}

// Wine's loader calls the entry point once as DllMain, because the image imports kernel32, before
// ntoskrnl calls it as DriverEntry: the image base as first argument tells the two apart.
extern "C" LONG WINAPI vdev_entry(void* first, void* second, void* third) {
    if (first == &__ImageBase) {
        return DllMainCRTStartup(
            first, static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(second)), third);
    }
    return vdev_driver_entry(first, second);
}
