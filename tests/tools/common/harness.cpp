#include "common/harness.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/exit_codes.h"
#include "app/run_options.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "device/device_link.h"
#include "device/pause.h"
#include "platform/win32.h"
#include "sim/simulated_pc.h"
#include "ui/update_dialog.h"
#include "update/flash_update.h"
#include "update/fw_image.h"
#include "update/identity_checks.h"

using namespace norvane;

namespace harness {

namespace {

constexpr std::uint32_t kLcgMultiplier = 1103515245u;
constexpr std::uint32_t kLcgIncrement = 12345u;
constexpr unsigned kLcgOutputShift = 16;
constexpr std::size_t kMaskedEvery = 5; // every fifth position is left uncompared
constexpr std::uint8_t kMaskCompared = 0xFF;
constexpr std::uint8_t kMaskIgnored = 0x00;
constexpr std::size_t kMainVersionMajor = 2; // version bytes within the main image
constexpr std::size_t kMainVersionMinor = 3;
constexpr unsigned kByteBits = 8;
constexpr std::uint16_t kLowByte = 0xFF;
constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kLineEndSize = 2;

std::uint8_t next_byte(std::uint32_t& state) {
    state = state * kLcgMultiplier + kLcgIncrement;
    return static_cast<std::uint8_t>(state >> kLcgOutputShift);
}

// Expected bytes in the first half of a block, masks in the second.
void fill_block(std::uint8_t* block, std::size_t half, std::uint32_t& state) {
    for (std::size_t i = 0; i < half; ++i) {
        block[i] = next_byte(state);
        block[half + i] = (i % kMaskedEvery == 0) ? kMaskIgnored : kMaskCompared;
    }
}

std::filesystem::path new_folder(const std::string& prefix) {
    static std::atomic<int> counter{0};
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace

std::vector<std::uint8_t> make_image(const ImageSpec& shape) {
    std::vector<std::uint8_t> bytes(kImageFileSize, 0);
    std::uint32_t state = shape.seed;
    bytes[kHeaderProductIdHigh] = static_cast<std::uint8_t>(shape.product_id >> kByteBits);
    bytes[kHeaderProductIdLow] = static_cast<std::uint8_t>(shape.product_id & kLowByte);
    bytes[kHeaderVersionMajor] = shape.major;
    bytes[kHeaderVersionMinor] = shape.minor;
    bytes[kHeaderConfigVersion] = shape.config_version;
    fill_block(bytes.data() + kSystemBlockOffset, kSystemMemorySize, state);
    fill_block(bytes.data() + kInformationBlockOffset, kInformationMemorySize, state);
    std::uint8_t* main = bytes.data() + kMainImageOffset;
    for (std::size_t i = 0; i < kMainImageSize; ++i) {
        main[i] = next_byte(state);
    }
    main[kMainVersionMajor] = shape.major;
    main[kMainVersionMinor] = shape.minor;
    return bytes;
}

std::vector<std::uint8_t> main_image_of(const std::vector<std::uint8_t>& image) {
    if (image.size() < kImageFileSize) {
        return {};
    }
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(kMainImageOffset);
    return {first, first + static_cast<std::ptrdiff_t>(kMainImageSize)};
}

void reset_program() {
    g_run = RunState{};
    _set_pause_function(nullptr); // the seam a test may have left installed, not run state
    sim::reset_pc();
}

std::vector<std::string> success_violations(const std::vector<std::uint8_t>& main_image,
                                            std::size_t target) {
    std::vector<std::string> violations;
    const std::vector<sim::SimDevice>& devices = sim::pc().devices;
    const sim::Controller& controller = devices.at(target).controller;
    if (controller.main_memory != main_image) {
        violations.emplace_back("success reported, but main memory differs from the image");
    }
    if (controller.update_mode || sim::controller_peek(controller, sim::kModeStatusAddress,
                                                       sim::now_ms()) != sim::kModeStatusNormal) {
        violations.emplace_back("success reported, but the controller is not in normal mode");
    }
    if (sim::controller_group_value(controller, sim::kEnableRegister) != 0) {
        violations.emplace_back("success reported, but the access enable is on");
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (i != target && devices[i].hid.set_feature_calls != 0) {
            violations.emplace_back("success reported, but device " + std::to_string(i) +
                                    " was sent requests");
        }
    }
    return violations;
}

int run_program(const std::wstring& arguments) {
    std::wstring copy = arguments;
    return wWinMain(nullptr, nullptr, copy.data(), 1);
}

ScratchFolder::ScratchFolder(const std::string& prefix)
    : previous_(std::filesystem::current_path()), folder_(new_folder(prefix)) {
    std::filesystem::current_path(folder_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(folder_, ignored);
}

void ScratchFolder::empty() const {
    std::error_code ignored;
    std::filesystem::current_path(folder_, ignored);
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

void ScratchFolder::write_file(const std::string& name,
                               const std::vector<std::uint8_t>& bytes) const {
    std::ofstream file(folder_ / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void ScratchFolder::write_text(const std::string& name, const std::string& text) const {
    std::ofstream file(folder_ / name, std::ios::binary);
    file << text;
}

std::string ScratchFolder::read_file(const std::string& name) const {
    std::ifstream file(folder_ / name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool split_log_lines(const std::string& text, std::vector<std::string>& lines) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(kLineEnd, start);
        if (end == std::string::npos) {
            return false;
        }
        std::string line = text.substr(start, end - start);
        if (line.find('\n') != std::string::npos) {
            return false;
        }
        lines.push_back(std::move(line));
        start = end + kLineEndSize;
    }
    return true;
}

} // namespace harness
