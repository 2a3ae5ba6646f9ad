#include "common/harness.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/run_state.h"
#include "device/pause.h"
#include "host/process.h"
#include "sim/simulated_pc.h"

using namespace norvane;

namespace harness {

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kLineEndSize = 2;

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

std::vector<std::uint8_t> main_image_of(const std::vector<std::uint8_t>& image) {
    sim::ImageFile decoded;
    if (!sim::decode_image_file(image.data(), image.size(), decoded)) {
        return {};
    }
    return decoded.main_image;
}

void reset_program() {
    g_run = RunState{};
    _set_wait_function(nullptr); // the seam a test may have left installed, not run state
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
                                                       sim::now()) != sim::kModeStatusNormal) {
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
    return host_run_entry_point(arguments);
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
