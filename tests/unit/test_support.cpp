#include "test_support.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

#include "app/run_options.h"
#include "app/settings.h"
#include "device/device_link.h"
#include "host/handles.h"
#include "platform/win32.h"
#include "sim/scenario.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/fw_image.h"
#include "update/identity_checks.h"

namespace test {

namespace {

constexpr std::uint32_t kLcgMultiplier = 1103515245u;
constexpr std::uint32_t kLcgIncrement = 12345u;
constexpr std::size_t kMaskedEvery = 5; // every fifth position is left uncompared

std::uint8_t next_byte(std::uint32_t& state) {
    state = state * kLcgMultiplier + kLcgIncrement;
    return static_cast<std::uint8_t>(state >> 16);
}

void fill_block(std::uint8_t* block, std::size_t half, std::uint32_t& state) {
    for (std::size_t i = 0; i < half; ++i) {
        block[i] = next_byte(state);
        block[half + i] = (i % kMaskedEvery == 0) ? 0x00 : 0xFF;
    }
}

std::filesystem::path new_folder() {
    static std::atomic<int> counter{0};
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("norvane-test-" + std::to_string(::getpid()) + "-" +
                                    std::to_string(counter++));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace

std::vector<std::uint8_t> make_image(const ImageSpec& spec) {
    std::vector<std::uint8_t> bytes(kImageFileSize, 0);
    std::uint32_t state = spec.seed;
    bytes[kHeaderProductIdHigh] = static_cast<std::uint8_t>(spec.product_id >> 8);
    bytes[kHeaderProductIdLow] = static_cast<std::uint8_t>(spec.product_id & 0xFF);
    bytes[kHeaderVersionMajor] = spec.major;
    bytes[kHeaderVersionMinor] = spec.minor;
    bytes[kHeaderConfigVersion] = spec.config_version;
    fill_block(bytes.data() + kSystemBlockOffset, kSystemMemorySize, state);
    fill_block(bytes.data() + kInformationBlockOffset, kInformationMemorySize, state);
    std::uint8_t* main = bytes.data() + kMainImageOffset;
    for (std::size_t i = 0; i < kMainImageSize; ++i) {
        main[i] = next_byte(state);
    }
    main[2] = spec.major;
    main[3] = spec.minor;
    return bytes;
}

Sandbox::Sandbox() : previous_(std::filesystem::current_path()), folder_(new_folder()) {
    std::filesystem::current_path(folder_);
    reset_program();
}

Sandbox::~Sandbox() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    reset_program();
}

void Sandbox::write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream file(folder_ / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void Sandbox::write_text(const std::string& name, const std::string& text) const {
    std::ofstream file(folder_ / name, std::ios::binary);
    file << text;
}

std::string Sandbox::read_file(const std::string& name) const {
    std::ifstream file(folder_ / name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> Sandbox::add_image(const ImageSpec& spec) const {
    std::vector<std::uint8_t> bytes = make_image(spec);
    write_file("image.bin", bytes);
    return bytes;
}

void reset_program() {
    g_run_options = RunOptions{};
    g_setting_flags = kDefaultSettingFlags;
    WAIT = kDefaultWaitMs;
    std::memset(&g_fw_image, 0, sizeof(g_fw_image));
    g_device_link = DeviceLink{{L"", 0, 0, 0, nullptr}, {L"", 0, 0, 0, nullptr}, 0};
    g_device_identity = DeviceIdentity{};
    g_saved_active_mode = SavedActiveMode{};
    g_chunk_counter = 0;
    g_update_outcome = 3010;
    sim::reset_pc();
}

void load_scenario(const std::string& json) {
    std::string error;
    ASSERT_TRUE(sim::load_scenario_text(json, sim::pc(), error)) << error;
}

int run_program(const std::wstring& arguments) {
    std::wstring copy = arguments;
    return wWinMain(nullptr, nullptr, copy.data(), 1);
}

const std::vector<std::string>& transcript() {
    return sim::pc().transcript;
}

std::vector<std::string> log_lines(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string text = stream.str();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log ends without CR LF: " << text.substr(start);
            break;
        }
        EXPECT_EQ(text.substr(start, end - start).find('\n'), std::string::npos)
            << "bare line feed in the log";
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace test
