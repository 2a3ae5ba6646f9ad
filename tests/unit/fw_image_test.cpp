// Finding and loading the firmware image.
#include <gtest/gtest.h>

#include <cstring>

#include "app/run_options.h"
#include "host/handles.h"
#include "test_support.h"
#include "update/fw_image.h"

using namespace norvane;

namespace {

using Lines = std::vector<std::string>;

const std::string kNoImageBox =
    "box Warning 0x30 Not Found .bin files.\\nPlease locate one .bin file to the folder.";
const std::string kSeveralBox =
    "box Warning 0x00 Found two or more .bin files.\\nPlease locate one .bin file to the folder.";
const std::string kOpenFailedBox = "box Warning 0x30 Failed bin file open";

struct FolderCase {
    const char* name;
    std::vector<std::string> files;   // valid images
    std::vector<std::string> folders; // folders
    std::size_t short_size;           // >0: image.bin of that many bytes instead
    bool loads;
    Lines transcript;
    bool being_copied = false; // fw.bin held by a copy still writing it, which lets others read
};

// The copier's handle, when the case has one.
HANDLE hold_for_copying(const FolderCase& folder) {
    return folder.being_copied ? CreateFileW(L"fw.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                               : nullptr;
}

class ImageFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ImageFolderTest, LoadsOnlyASingleCompleteImage) {
    test::Sandbox sandbox;
    for (const std::string& name : GetParam().files) {
        sandbox.write_file(name, test::make_image());
    }
    for (const std::string& name : GetParam().folders) {
        std::filesystem::create_directory(name);
    }
    if (GetParam().short_size > 0) {
        std::vector<std::uint8_t> bytes = test::make_image();
        bytes.resize(GetParam().short_size);
        sandbox.write_file("short.bin", bytes);
    }
    hold_for_copying(GetParam()); // closed with the reset below
    EXPECT_EQ(_load_fw_image(), GetParam().loads);
    EXPECT_EQ(test::transcript(), GetParam().transcript);
    EXPECT_EQ(host_handles_open_total(), GetParam().being_copied ? 1u : 0u);

    // A silent run shows nothing in the same folder.
    test::reset_program(); // closes the copier's handle too
    g_run_options.silent = true;
    HANDLE copier = hold_for_copying(GetParam());
    EXPECT_EQ(_load_fw_image(), GetParam().loads);
    EXPECT_TRUE(test::transcript().empty());
    CloseHandle(copier);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageFolderTest,
    ::testing::Values(
        FolderCase{"none", {"readme.txt"}, {}, 0, false, {kNoImageBox, "answer IDOK"}},
        FolderCase{"two", {"a.bin", "b.bin"}, {}, 0, false, {kSeveralBox, "answer IDOK"}},
        FolderCase{
            "three", {"a.bin", "b.bin", "c.BIN"}, {}, 0, false, {kSeveralBox, "answer IDOK"}},
        FolderCase{
            "folder_beside_file", {"fw.bin"}, {"old.bin"}, 0, false, {kSeveralBox, "answer IDOK"}},
        FolderCase{"folder_only", {}, {"old.bin"}, 0, false, {kOpenFailedBox, "answer IDOK"}},
        FolderCase{"upper_case", {"FW.BIN"}, {}, 0, true, {}},
        FolderCase{
            "short", {}, {}, sim::kImageFileBytes - 1, false, {kOpenFailedBox, "answer IDOK"}},
        FolderCase{"empty", {}, {}, 1, false, {kOpenFailedBox, "answer IDOK"}},
        FolderCase{"other_extension",
                   {"fw.bin.txt", "fw.binx"},
                   {},
                   0,
                   false,
                   {kNoImageBox, "answer IDOK"}},
        // "*.bin" also matches these through their short names (FW~1.BIN, OLD~1.BIN).
        FolderCase{"lone_binx", {"fw.binx"}, {}, 0, false, {kNoImageBox, "answer IDOK"}},
        FolderCase{"lone_bin_tilde", {"fw.bin~"}, {}, 0, false, {kNoImageBox, "answer IDOK"}},
        FolderCase{"lone_bin2", {"old.bin2"}, {}, 0, false, {kNoImageBox, "answer IDOK"}},
        FolderCase{"image_beside_backup", {"fw.bin~", "fw.bin"}, {}, 0, true, {}},
        FolderCase{"long_name_image", {"touchpad firmware.Bin"}, {}, 0, true, {}},
        // The image opens with read sharing only: one still being written is refused.
        FolderCase{
            "being_copied", {"fw.bin"}, {}, 0, false, {kOpenFailedBox, "answer IDOK"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FwImage, HeaderIsBigEndianAndSectionsFollowIt) {
    test::Sandbox sandbox;
    test::ImageSpec shape;
    shape.product_id = 0x0A1B;
    shape.major = 0x0a;
    shape.minor = 0x1b;
    shape.config_version = 0x42;
    std::vector<std::uint8_t> bytes = test::make_image(shape);
    bytes.resize(sim::kImageFileBytes + 100, 0xEE); // extra bytes have no effect
    sandbox.write_file("fw.bin", bytes);
    ASSERT_TRUE(_load_fw_image());
    EXPECT_EQ(g_fw_image.product_id, 0x0A1B);
    EXPECT_EQ(g_fw_image.new_version.major, 0x0a);
    EXPECT_EQ(g_fw_image.new_version.minor, 0x1b);
    EXPECT_EQ(g_fw_image.config_version, 0x42);
    EXPECT_STREQ(g_fw_image.file_name, L"fw.bin");
    EXPECT_EQ(0, std::memcmp(g_fw_image.system_block, bytes.data() + 12, 1024));
    EXPECT_EQ(0, std::memcmp(g_fw_image.information_block, bytes.data() + 1036, 2048));
    EXPECT_EQ(0, std::memcmp(g_fw_image.main_image, bytes.data() + 3084, 65536));
}

TEST(FwImage, ReservedHeaderBytesChangeNothing) {
    std::vector<std::uint8_t> bytes = test::make_image();
    FwImage plain{};
    ASSERT_TRUE(_decode_fw_image(bytes.data(), bytes.size(), plain));
    for (std::size_t i : {4, 5, 6, 7, 8, 9, 11}) {
        bytes[i] ^= 0x5A;
    }
    FwImage changed{};
    ASSERT_TRUE(_decode_fw_image(bytes.data(), bytes.size(), changed));
    EXPECT_EQ(0, std::memcmp(&plain, &changed, sizeof(FwImage)));
    EXPECT_FALSE(_decode_fw_image(bytes.data(), sim::kImageFileBytes - 1, changed));
    EXPECT_FALSE(_decode_fw_image(nullptr, 0, changed));
}

} // namespace
