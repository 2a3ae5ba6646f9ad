// The SetupAPI and HID stand-ins over the simulated device tree, and the device part of a
// scenario that fills that tree.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <cwctype>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/device_tree.h"
#include "host/handles.h"
#include "sim/device_scenario.h"
#include "sim/simulated_pc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;

constexpr DWORD kListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kRegMultiSz = 7;

sim::SimCollection collection(std::uint16_t page, std::uint8_t id, std::uint16_t count,
                              std::uint16_t caps = 1) {
    sim::SimCollection c;
    c.usage_page = page;
    c.report_id = id;
    c.report_count = count;
    c.feature_value_caps = caps;
    return c;
}

sim::SimDevice device(std::uint16_t product, std::vector<sim::SimCollection> collections) {
    sim::SimDevice d;
    d.product_id = product;
    d.collections = std::move(collections);
    return d;
}

class HostDeviceTree : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::reset_pc();
        host_handles_reset();
        host_device_api_reset();
    }
    void TearDown() override {
        host_handles_reset();
        sim::reset_pc();
    }

    // Every interface path the HID list offers, through the two-call detail protocol.
    static std::vector<std::wstring> interface_paths() {
        GUID guid{};
        HidD_GetHidGuid(&guid);
        HDEVINFO list = SetupDiGetClassDevsW(&guid, nullptr, nullptr, kListFlags);
        EXPECT_NE(list, INVALID_HANDLE_VALUE);
        std::vector<std::wstring> paths;
        for (DWORD i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof(data);
            if (!SetupDiEnumDeviceInterfaces(list, nullptr, &guid, i, &data)) {
                EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
                break;
            }
            paths.push_back(detail_path(list, data));
        }
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
        return paths;
    }

    static std::wstring detail_path(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& data) {
        DWORD required = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<std::uint8_t> buffer(required, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        EXPECT_TRUE(
            SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, nullptr, nullptr));
        return detail->DevicePath;
    }

    static HANDLE open(const std::wstring& path) {
        return host_open_device_path(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
    }
};

// ---- SetupAPI: HID interfaces ------------------------------------------------------------------

TEST_F(HostDeviceTree, InterfacesAreListedInDeviceAndCollectionOrder) {
    sim::pc().devices = {device(0x1234, {collection(0xFF01, 5, 7), collection(0xFF02, 6, 134)}),
                         device(0x0ABC, {collection(0x0001, 1, 4)})};
    const std::vector<std::wstring> paths = interface_paths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], L"\\\\?\\hid#vid_044e&pid_1234&col01#7&1a2b3c4d&0&0000#"
                        L"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(paths[1], L"\\\\?\\hid#vid_044e&pid_1234&col02#7&1a2b3c4d&0&0000#"
                        L"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(paths[2], L"\\\\?\\hid#vid_044e&pid_0abc#7&1a2b3c4e&0&0000#"
                        L"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(host_handles_open_total(), 0u);
    EXPECT_EQ(host_device_api_misuses(), 0u);
}

TEST_F(HostDeviceTree, HidGuidIsTheHidInterfaceClass) {
    GUID guid{};
    HidD_GetHidGuid(&guid);
    EXPECT_EQ(guid.Data1, 0x4D1E55B2u);
    EXPECT_EQ(guid.Data2, 0xF16F);
    EXPECT_EQ(guid.Data3, 0x11CF);
    const std::uint8_t tail[8] = {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    EXPECT_EQ(std::memcmp(guid.Data4, tail, sizeof(tail)), 0);
}

struct ListCallCase {
    const char* name;
    bool hid_guid;
    DWORD flags;
};

class HostDeviceTreeListCall : public HostDeviceTree,
                               public ::testing::WithParamInterface<ListCallCase> {};

TEST_P(HostDeviceTreeListCall, ListNeedsTheHidGuidAndBothFlags) {
    GUID guid = GetParam().hid_guid ? kHidInterfaceGuid : kMouseInterfaceGuid;
    HDEVINFO list = SetupDiGetClassDevsW(&guid, nullptr, nullptr, GetParam().flags);
    EXPECT_EQ(list, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(host_device_api_misuses(), 1u);
    EXPECT_EQ(host_handles_open(HandleKind::DeviceList), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostDeviceTreeListCall,
    ::testing::Values(ListCallCase{"MouseGuid", false, kListFlags},
                      ListCallCase{"NoPresentFlag", true, DIGCF_DEVICEINTERFACE},
                      ListCallCase{"NoInterfaceFlag", true, DIGCF_PRESENT}),
    [](const ::testing::TestParamInfo<ListCallCase>& info) { return info.param.name; });

TEST_F(HostDeviceTree, DetailNeedsStructureSizeAndRoom) {
    sim::pc().devices = {device(0x1234, {collection(0xFF01, 5, 7)})};
    const std::wstring expected = host_interface_path(0, 0);
    HDEVINFO list = SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr, kListFlags);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceGuid, 0, &data));
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                            (expected.size() + 1) * sizeof(WCHAR));
    EXPECT_EQ(host_device_api_misuses(), 0u); // the size query is the expected first call

    std::vector<std::uint8_t> buffer(required, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = required; // the whole size instead of the fixed part
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(host_device_api_misuses(), 2u);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::wstring(detail->DevicePath), expected);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(HostDeviceTree, EnumerationNeedsTheStructureSize) {
    sim::pc().devices = {device(0x1234, {collection(0xFF01, 5, 7)})};
    HDEVINFO list = SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr, kListFlags);
    SP_DEVICE_INTERFACE_DATA data{};
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceGuid, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    data.cbSize = sizeof(data);
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceGuid, 0, &data));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceGuid, 1, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceGuid, 0, &data));
    EXPECT_EQ(host_device_api_misuses(), 3u);
}

TEST_F(HostDeviceTree, UnpluggedDeviceLeavesEnumerationAndNoLongerOpens) {
    sim::pc().devices = {device(0x1111, {collection(0xFF01, 5, 7)}),
                         device(0x2222, {collection(0xFF01, 5, 7)})};
    const std::wstring first = host_interface_path(0, 0);
    HANDLE handle = open(first);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    sim::pc().devices[0].faults = {sim::FaultRule{}}; // any request unplugs it
    sim::pc().devices[0].faults[0].effect = sim::FaultEffect::Unplug;
    Bytes request = sim::make_request(5, sim::kCommandWriteRegister, 0xFF8007, {1}, 8);
    EXPECT_FALSE(HidD_SetFeature(handle, request.data(), 8));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);

    EXPECT_EQ(interface_paths(), std::vector<std::wstring>{host_interface_path(1, 0)});
    EXPECT_TRUE(host_is_device_path(first.c_str()));
    EXPECT_EQ(open(first), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(HidD_GetAttributes(handle, &attributes));
    EXPECT_FALSE(HidD_SetFeature(handle, request.data(), 8));
    EXPECT_EQ(sim::pc().devices[0].hid.set_feature_calls, 2u);
    EXPECT_TRUE(host_handle_release(handle));
}

TEST_F(HostDeviceTree, PathsOpenWithoutRegardToCaseAndUnknownPathsFail) {
    sim::pc().devices = {device(0x1234, {collection(0xFF01, 5, 7), collection(0xFF02, 6, 134)})};
    std::wstring upper = host_interface_path(0, 1);
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    HANDLE handle = open(upper);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const HandleEntry* entry = host_handle_get(handle, HandleKind::Device);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->collection, 1u);
    EXPECT_EQ(entry->share, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(host_is_device_path(L"C:\\work\\fw.bin"));
    EXPECT_EQ(open(L"\\\\?\\hid#vid_044e&pid_9999#7&1a2b3c4d&0&0000#"
                   L"{4d1e55b2-f16f-11cf-88cb-001111000030}"),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(host_handles_open(HandleKind::Device), 1u);
    EXPECT_TRUE(host_handle_release(handle));
}

// The touchpad's driver holds its collections open: only an open with access 0 shares with an
// exclusive holder; read or write access must be shared both ways, as Windows checks it.
struct HeldCase {
    const char* name;
    sim::HeldOpen held;
    DWORD access;
    DWORD share;
    bool opens;
};

class HostDeviceTreeHeld : public HostDeviceTree, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HostDeviceTreeHeld, OpenSharesWithTheDriversHandle) {
    sim::SimCollection held = collection(0xFF01, 5, 7);
    held.held_open = GetParam().held;
    sim::pc().devices = {device(0x1234, {held})};
    const std::wstring path = host_interface_path(0, 0);
    HANDLE handle = host_open_device_path(path.c_str(), GetParam().access, GetParam().share);
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, GetParam().opens);
    if (!GetParam().opens) {
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        return;
    }
    // Beside the driver's handle and this one (which alone holds a collection nobody else does),
    // an open that reads and shares nothing fails.
    EXPECT_EQ(host_open_device_path(path.c_str(), GENERIC_READ, 0), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(handle));
}

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;

INSTANTIATE_TEST_SUITE_P(
    Cases, HostDeviceTreeHeld,
    ::testing::Values(
        HeldCase{"AccessZero", sim::HeldOpen::Exclusive, 0, kShareBoth, true},
        HeldCase{"AccessZeroSharingNothing", sim::HeldOpen::Exclusive, 0, 0, true},
        HeldCase{"ReadWrite", sim::HeldOpen::Exclusive, kReadWrite, kShareBoth, false},
        HeldCase{"ReadOnly", sim::HeldOpen::Exclusive, GENERIC_READ, kShareBoth, false},
        HeldCase{"SharedReadWrite", sim::HeldOpen::Shared, kReadWrite, kShareBoth, true},
        HeldCase{"SharedButNotSharing", sim::HeldOpen::Shared, GENERIC_READ, FILE_SHARE_READ,
                 false},
        HeldCase{"NotHeld", sim::HeldOpen::None, kReadWrite, FILE_SHARE_READ, true}),
    [](const ::testing::TestParamInfo<HeldCase>& info) { return info.param.name; });

// ---- HID ---------------------------------------------------------------------------------------

TEST_F(HostDeviceTree, AttributesCapsAndValueCapsDescribeTheCollection) {
    sim::SimDevice d = device(0x1234, {collection(0xFF01, 5, 7), collection(0xFF02, 6, 134, 3)});
    d.version_number = 0xFFFF;
    sim::pc().devices = {d};
    HANDLE handle = open(host_interface_path(0, 1));
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    ASSERT_TRUE(HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(attributes.VendorID, 0x044E);
    EXPECT_EQ(attributes.ProductID, 0x1234);
    EXPECT_EQ(attributes.VersionNumber, 0xFFFF);

    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(handle, &preparsed));
    HIDP_CAPS caps{};
    ASSERT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, 0xFF02);
    EXPECT_EQ(caps.FeatureReportByteLength, 135);
    EXPECT_EQ(caps.NumberFeatureValueCaps, 3);

    HIDP_VALUE_CAPS values[3] = {};
    USHORT count = 1;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Feature, values, &count, preparsed),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(values[0].ReportID, 6);
    EXPECT_EQ(values[1].ReportID, 0); // not touched
    count = 3;
    ASSERT_EQ(HidP_GetValueCaps(HidP_Feature, values, &count, preparsed), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(count, 3);
    for (const HIDP_VALUE_CAPS& value : values) {
        EXPECT_EQ(value.ReportID, 6);
        EXPECT_EQ(value.ReportCount, 134);
    }
    EXPECT_EQ(host_handles_open(HandleKind::Preparsed), 1u);
    EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
    EXPECT_FALSE(HidD_FreePreparsedData(preparsed));
    EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(host_handles_open(HandleKind::Preparsed), 0u);
    EXPECT_EQ(host_device_api_misuses(), 2u);
    EXPECT_TRUE(host_handle_release(handle));
}

TEST_F(HostDeviceTree, FeatureReportsReachTheControllerOnTheVirtualClock) {
    sim::pc().devices = {device(0x1234, {collection(0xFF01, 5, 7), collection(0xFF02, 6, 134)})};
    HANDLE control = open(host_interface_path(0, 0));
    auto write = [&](std::uint32_t address, std::uint8_t value) {
        Bytes r = sim::make_request(5, sim::kCommandWriteRegister, address, {value}, 8);
        return HidD_SetFeature(control, r.data(), static_cast<ULONG>(r.size())) != FALSE;
    };
    auto read = [&](std::uint32_t address) {
        Bytes r = sim::make_request(5, sim::kCommandReadRegister, address, {}, 8);
        EXPECT_TRUE(HidD_SetFeature(control, r.data(), static_cast<ULONG>(r.size())));
        Bytes response(8, 0);
        response[0] = 5;
        EXPECT_TRUE(HidD_GetFeature(control, response.data(), 8));
        return response[sim::kPayloadByte];
    };
    const std::uint8_t code[] = {0x5E, 0x1C, 0x72, 0xA9, 0, 0, 0, 1};
    for (std::uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(write(sim::kModeChangeRegister + i, code[i]));
    }
    for (std::uint32_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(write(sim::kModeApplyRegister + i, code[4 + i]));
    }
    sim::pc().virtual_time += 500 * sim::kTimeUnitsPerMs;
    EXPECT_EQ(read(sim::kModeStatusAddress), sim::kModeStatusSettling);
    sim::pc().virtual_time += 500 * sim::kTimeUnitsPerMs;
    EXPECT_EQ(read(sim::kModeStatusAddress), sim::kModeStatusUpdate);

    Bytes short_report(7, 0);
    short_report[0] = 5;
    EXPECT_FALSE(HidD_SetFeature(control, short_report.data(), 7));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sim::pc().devices[0].controller.stats.refused_requests, 1u);
    EXPECT_FALSE(HidD_GetFeature(control, short_report.data(), 7));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    Bytes wrong_id = sim::make_request(6, sim::kCommandReadRegister, sim::kPollAddress, {}, 8);
    EXPECT_FALSE(HidD_SetFeature(control, wrong_id.data(), 8));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_TRUE(host_handle_release(control));
    EXPECT_FALSE(HidD_SetFeature(control, short_report.data(), 8));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// ---- SetupAPI: mouse hardware IDs --------------------------------------------------------------

TEST_F(HostDeviceTree, HardwareIdsComeAsMultiStringsInDeviceOrder) {
    sim::pc().mouse_devices = {{"HID\\VID_046D&PID_C077", "HID_DEVICE"},
                               {"ACPI\\*VORK0810&ABCD", "*VORK0810"}};
    HDEVINFO list = SetupDiGetClassDevsA(&kMouseInterfaceGuid, nullptr, nullptr, kListFlags);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    std::vector<std::string> found;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(list, index, &info); ++index) {
        BYTE buffer[260] = {};
        DWORD type = 0;
        DWORD required = 0;
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(list, &info, SPDRP_HARDWAREID, &type, buffer,
                                                      sizeof(buffer), &required));
        EXPECT_EQ(type, kRegMultiSz);
        found.emplace_back(reinterpret_cast<const char*>(buffer), required);
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(index, 2u);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], std::string("HID\\VID_046D&PID_C077\0HID_DEVICE\0\0", 34));
    EXPECT_EQ(found[1], std::string("ACPI\\*VORK0810&ABCD\0*VORK0810\0\0", 31));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    EXPECT_EQ(host_handles_open_total(), 0u);
    EXPECT_EQ(host_device_api_misuses(), 0u);
}

TEST_F(HostDeviceTree, HardwareIdsThatDoNotFitAreRefusedWithTheirSize) {
    sim::pc().mouse_devices = {{std::string(300, 'A')}};
    HDEVINFO list = SetupDiGetClassDevsA(&kMouseInterfaceGuid, nullptr, nullptr, kListFlags);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(list, 0, &info));
    BYTE buffer[260] = {};
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(list, &info, SPDRP_HARDWAREID, nullptr, buffer,
                                                   sizeof(buffer), &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 302u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(list, &info, 2, nullptr, buffer, sizeof(buffer),
                                                   nullptr));
    EXPECT_EQ(host_device_api_misuses(), 1u);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(HostDeviceTree, MouseListNeedsTheMouseGuidAndIsNotAnInterfaceList) {
    EXPECT_EQ(SetupDiGetClassDevsA(&kHidInterfaceGuid, nullptr, nullptr, kListFlags),
              INVALID_HANDLE_VALUE);
    HDEVINFO list = SetupDiGetClassDevsA(&kMouseInterfaceGuid, nullptr, nullptr, kListFlags);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(list, 0, &info));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kHidInterfaceGuid, 0, &data));
    EXPECT_EQ(host_device_api_misuses(), 2u);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

// ---- device scenario ---------------------------------------------------------------------------

std::unique_ptr<sim::ImageFile> make_image(std::uint8_t major, std::uint8_t minor) {
    auto image = std::make_unique<sim::ImageFile>();
    image->product_id = 0x1234;
    image->major = major;
    image->minor = minor;
    image->config_version = 0x21;
    image->system_memory.resize(sim::kImageSystemBytes);
    for (std::size_t i = 0; i < image->system_memory.size(); ++i) {
        image->system_memory[i] = static_cast<std::uint8_t>(i * 3);
    }
    image->information_memory.resize(sim::kImageInformationBytes);
    for (std::size_t i = 0; i < image->information_memory.size(); ++i) {
        image->information_memory[i] = static_cast<std::uint8_t>(i * 7);
    }
    image->main_image.resize(sim::kImageMainBytes);
    return image;
}

class DeviceScenario : public HostDeviceTree {
  protected:
    bool load(const char* text, const sim::ImageFile* image) {
        return sim::load_device_scenario(json::parse(text), image, sim::pc(), error);
    }
    std::string error;
};

TEST_F(DeviceScenario, DefaultDeviceMatchesTheImage) {
    auto image = make_image(3, 0x08);
    ASSERT_TRUE(load(R"({"dialog": "start"})", image.get())) << error;
    ASSERT_EQ(sim::pc().devices.size(), 1u);
    EXPECT_TRUE(sim::pc().mouse_devices.empty());
    const sim::SimDevice& d = sim::pc().devices[0];
    EXPECT_EQ(d.vendor_id, 0x044E);
    EXPECT_EQ(d.product_id, 0x1234);
    EXPECT_EQ(d.version_number, 0x0100);
    ASSERT_EQ(d.collections.size(), 2u);
    EXPECT_EQ(d.collections[0].usage_page, 0xFF01);
    EXPECT_EQ(d.collections[0].report_id, 5);
    EXPECT_EQ(d.collections[0].report_count, 7);
    EXPECT_EQ(d.collections[1].usage_page, 0xFF02);
    EXPECT_EQ(d.collections[1].report_id, 6);
    EXPECT_EQ(d.collections[1].report_count, 134);
    EXPECT_EQ(d.controller.main_memory[2], 3);
    EXPECT_EQ(d.controller.main_memory[3], 0x07);
    EXPECT_EQ(sim::controller_peek(d.controller, sim::kConfigVersionAddress, 0), 0x21);
    EXPECT_EQ(d.controller.system_memory[100], 44);       // 100 * 3 mod 256
    EXPECT_EQ(d.controller.information_memory[1000], 88); // 1000 * 7 mod 256
    EXPECT_NE(sim::controller_peek(d.controller, sim::kActiveModeAddress, 0), 0);
}

struct VersionDefaultCase {
    std::uint8_t major, minor;
    std::uint8_t device_major, device_minor;
};

class DeviceScenarioVersion : public DeviceScenario,
                              public ::testing::WithParamInterface<VersionDefaultCase> {};

TEST_P(DeviceScenarioVersion, DefaultFirmwareIsOneBelowTheImage) {
    auto image = make_image(GetParam().major, GetParam().minor);
    ASSERT_TRUE(load("{}", image.get())) << error;
    EXPECT_EQ(sim::pc().devices[0].controller.main_memory[2], GetParam().device_major);
    EXPECT_EQ(sim::pc().devices[0].controller.main_memory[3], GetParam().device_minor);
}

INSTANTIATE_TEST_SUITE_P(Versions, DeviceScenarioVersion,
                         ::testing::Values(VersionDefaultCase{3, 0x08, 3, 0x07},
                                           VersionDefaultCase{3, 0x10, 3, 0x0F},
                                           VersionDefaultCase{4, 0x00, 3, 0xFF},
                                           VersionDefaultCase{0, 0x00, 0, 0x00}));

TEST_F(DeviceScenario, WithoutImageDefaultsAreZero) {
    ASSERT_TRUE(load(R"({"devices": [{"product_id": "image"}]})", nullptr)) << error;
    const sim::SimDevice& d = sim::pc().devices[0];
    EXPECT_EQ(d.product_id, 0);
    EXPECT_EQ(d.controller.main_memory[2], 0);
    EXPECT_EQ(d.controller.main_memory[3], 0);
    EXPECT_EQ(d.controller.system_memory, Bytes(512, 0));
    EXPECT_EQ(d.collections.size(), 2u);
}

TEST_F(DeviceScenario, EveryDeviceKeyIsRead) {
    auto image = make_image(3, 0x08);
    const char* text = R"({
        "mouse_devices": [["ACPI\\*VORK0810&1"], []],
        "devices": [
            {"vendor_id": "0x044e", "product_id": 4660, "version_number": "0xffff",
             "collections": [{"usage_page": "0xFF03", "report_id": 9, "report_count": 7,
                              "feature_value_caps": 0, "accepts": "control",
                              "held_open": "none"}],
             "controller": {"firmware_version": "2.1A", "config_version": "0x30",
                            "system_memory": {"0": 1, "0x1FF": "0xee"},
                            "information_memory": {"1023": 255},
                            "active_mode": [9, 8, 7, 6], "mode_settle_ms": 10,
                            "erase_busy_polls": 3, "main_memory_fill": "0xFF",
                            "faults": [{"on": "read", "address": "0x80002D", "skip": 1,
                                        "times": 2, "status": "0x00"},
                                       {"unplug": true}]}},
            {"product_id": "image"}
        ]})";
    ASSERT_TRUE(load(text, image.get())) << error;
    ASSERT_EQ(sim::pc().mouse_devices.size(), 2u);
    EXPECT_EQ(sim::pc().mouse_devices[0][0], "ACPI\\*VORK0810&1");
    ASSERT_EQ(sim::pc().devices.size(), 2u);
    const sim::SimDevice& d = sim::pc().devices[0];
    EXPECT_EQ(d.product_id, 0x1234);
    EXPECT_EQ(d.version_number, 0xFFFF);
    ASSERT_EQ(d.collections.size(), 1u);
    EXPECT_EQ(d.collections[0].usage_page, 0xFF03);
    EXPECT_EQ(d.collections[0].report_id, 9);
    EXPECT_EQ(d.collections[0].feature_value_caps, 0);
    EXPECT_EQ(d.collections[0].accepts, sim::CollectionKind::Control);
    EXPECT_EQ(d.collections[0].held_open, sim::HeldOpen::None);
    EXPECT_EQ(sim::pc().devices[1].collections[0].held_open, sim::HeldOpen::Exclusive);
    EXPECT_EQ(d.controller.main_memory[2], 2);
    EXPECT_EQ(d.controller.main_memory[3], 0x1A);
    EXPECT_EQ(d.controller.main_memory[0], 0xFF);
    EXPECT_EQ(sim::controller_peek(d.controller, sim::kConfigVersionAddress, 0), 0x30);
    EXPECT_EQ(d.controller.system_memory[0], 1);
    EXPECT_EQ(d.controller.system_memory[1], 3); // the image's expected byte
    EXPECT_EQ(d.controller.system_memory[0x1FF], 0xEE);
    EXPECT_EQ(d.controller.information_memory[1023], 255);
    EXPECT_EQ(sim::controller_peek(d.controller, sim::kActiveModeAddress + 3, 0), 6);
    EXPECT_EQ(d.controller.mode_settle_ms, 10u);
    EXPECT_EQ(d.controller.erase_busy_polls, 3u);
    ASSERT_EQ(d.faults.size(), 2u);
    EXPECT_EQ(d.faults[0].on, sim::FaultTarget::Read);
    EXPECT_EQ(d.faults[0].address, 0x80002Du);
    EXPECT_EQ(d.faults[0].skip, 1u);
    EXPECT_EQ(d.faults[0].times, 2u);
    EXPECT_EQ(d.faults[0].effect, sim::FaultEffect::Status);
    EXPECT_EQ(d.faults[0].byte, 0);
    EXPECT_EQ(d.faults[1].on, sim::FaultTarget::Any);
    EXPECT_EQ(d.faults[1].effect, sim::FaultEffect::Unplug);
    EXPECT_FALSE(d.faults[1].times.has_value());
    EXPECT_EQ(sim::pc().devices[1].product_id, 0x1234);
}

TEST_F(DeviceScenario, EmptyDeviceListMeansNoDevice) {
    auto image = make_image(3, 0x08);
    ASSERT_TRUE(load(R"({"devices": []})", image.get())) << error;
    EXPECT_TRUE(sim::pc().devices.empty());
}

struct BadScenarioCase {
    const char* name;
    const char* text;
    const char* message_part;
};

class DeviceScenarioRefusal : public DeviceScenario,
                              public ::testing::WithParamInterface<BadScenarioCase> {};

TEST_P(DeviceScenarioRefusal, MalformedScenarioIsRefusedAndChangesNothing) {
    auto image = make_image(3, 0x08);
    sim::pc().mouse_devices = {{"KEEP"}};
    EXPECT_FALSE(load(GetParam().text, image.get()));
    EXPECT_NE(error.find(GetParam().message_part), std::string::npos) << error;
    EXPECT_EQ(sim::pc().mouse_devices.size(), 1u);
    EXPECT_TRUE(sim::pc().devices.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceScenarioRefusal,
    ::testing::Values(
        BadScenarioCase{"UnknownDeviceKey", R"({"devices": [{"vendor": 1}]})",
                        "devices[0]: unknown key \"vendor\""},
        BadScenarioCase{"UnknownCollectionKey", R"({"devices": [{"collections": [{"page": 1}]}]})",
                        "devices[0].collections[0]: unknown key \"page\""},
        BadScenarioCase{"UnknownControllerKey",
                        R"({"devices": [{"controller": {"version": "3.07"}}]})",
                        "devices[0].controller: unknown key \"version\""},
        BadScenarioCase{"UnknownFaultKey",
                        R"({"devices": [{"controller": {"faults": [{"fail": true}]}}]})",
                        "faults[0]: unknown key \"fail\""},
        BadScenarioCase{"TwoEffects",
                        R"({"devices": [{"controller": {"faults": [
                            {"fail_set": true, "ignore": true}]}}]})",
                        "exactly one"},
        BadScenarioCase{"NoEffect",
                        R"({"devices": [{"controller": {"faults": [{"on": "write"}]}}]})",
                        "exactly one"},
        BadScenarioCase{"FalseFlag",
                        R"({"devices": [{"controller": {"faults": [{"corrupt": false}]}}]})",
                        "corrupt: must be true"},
        BadScenarioCase{"UnknownTarget",
                        R"({"devices": [{"controller": {"faults": [
                            {"on": "poll", "fail_get": true}]}}]})",
                        "on: must be write, read, write_block, read_block or any"},
        BadScenarioCase{"VersionFormat",
                        R"({"devices": [{"controller": {"firmware_version": "3.7"}}]})",
                        "firmware_version"},
        BadScenarioCase{"ByteTooLarge", R"({"devices": [{"collections": [{"report_id": 256}]}]})",
                        "report_id: is larger than 255"},
        BadScenarioCase{"NegativeNumber", R"({"devices": [{"vendor_id": -1}]})", "vendor_id"},
        BadScenarioCase{"BadHex", R"({"devices": [{"product_id": "0xZZ"}]})", "product_id"},
        BadScenarioCase{"PatchPastTheEnd",
                        R"({"devices": [{"controller": {"system_memory": {"512": 1}}}]})",
                        "position \"512\""},
        BadScenarioCase{"ActiveModeLength",
                        R"({"devices": [{"controller": {"active_mode": [1, 2, 3]}}]})",
                        "active_mode"},
        BadScenarioCase{"Accepts", R"({"devices": [{"collections": [{"accepts": "both"}]}]})",
                        "collections[0].accepts: must be control, data or none"},
        BadScenarioCase{"HeldOpen", R"({"devices": [{"collections": [{"held_open": true}]}]})",
                        "held_open: must be exclusive, shared or none"},
        BadScenarioCase{"MouseIds", R"({"mouse_devices": ["ACPI"]})", "mouse_devices[0]"},
        BadScenarioCase{"DevicesNotAList", R"({"devices": {}})", "devices: must be a list"}),
    [](const ::testing::TestParamInfo<BadScenarioCase>& info) { return info.param.name; });

struct VersionTextCase {
    const char* text;
    bool ok;
    std::uint8_t major, minor;
};

class DeviceScenarioVersionText : public ::testing::TestWithParam<VersionTextCase> {};

TEST_P(DeviceScenarioVersionText, VersionsReadAsTheSystemShowsThem) {
    std::uint8_t major = 0xEE;
    std::uint8_t minor = 0xEE;
    EXPECT_EQ(sim::parse_firmware_version(GetParam().text, major, minor), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(major, GetParam().major);
        EXPECT_EQ(minor, GetParam().minor);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DeviceScenarioVersionText,
    ::testing::Values(VersionTextCase{"3.07", true, 3, 0x07},
                      VersionTextCase{"a.ff", true, 0x0A, 0xFF},
                      VersionTextCase{"10.2A", true, 0x10, 0x2A},
                      VersionTextCase{"3.7", false, 0, 0}, VersionTextCase{"3.007", false, 0, 0},
                      VersionTextCase{".07", false, 0, 0}, VersionTextCase{"100.07", false, 0, 0},
                      VersionTextCase{"3-07", false, 0, 0}, VersionTextCase{"g.07", false, 0, 0}));

TEST_F(DeviceScenario, LoadedScenarioServesTheStandIns) {
    auto image = make_image(3, 0x08);
    ASSERT_TRUE(load(R"({"devices": [{}, {"vendor_id": 1, "collections": []}]})", image.get()))
        << error;
    const std::vector<std::wstring> paths = interface_paths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(paths[0].find(L"pid_1234&col01"), std::wstring::npos);
    EXPECT_NE(paths[1].find(L"pid_1234&col02"), std::wstring::npos);
}

} // namespace
