#include "test_support.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

#include "sim/scenario.h"

namespace test {

namespace {

std::filesystem::path new_folder() {
    static std::atomic<int> counter{0};
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("norvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace

Sandbox::Sandbox() : previous_(std::filesystem::current_path()), folder_(new_folder()) {
    std::filesystem::current_path(folder_);
    reset_program();
}

Sandbox::~Sandbox() {
    std::uint64_t violations = 0;
    for (const sim::SimDevice& device : sim::pc().devices) {
        violations += device.controller.stats.protocol_violations;
    }
    EXPECT_EQ(violations, expected_violations_) << "protocol violations on the simulated PC";
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

void Sandbox::enter_deep_folder() const {
    constexpr std::size_t kDeepPathLength = 300;
    constexpr std::size_t kFolderNameLength = 40;
    std::filesystem::path deep = folder_;
    while (deep.native().size() < kDeepPathLength) {
        deep /= std::string(kFolderNameLength, 'd');
    }
    std::filesystem::create_directories(deep);
    std::filesystem::current_path(deep);
}

std::vector<std::uint8_t> Sandbox::add_image(const ImageSpec& shape) const {
    std::vector<std::uint8_t> bytes = make_image(shape);
    write_file("image.bin", bytes);
    return bytes;
}

void reset_program() {
    harness::reset_program();
}

void load_scenario(const std::string& json) {
    std::string error;
    ASSERT_TRUE(sim::load_scenario_text(json, sim::pc(), error)) << error;
}

int run_program(const std::wstring& arguments) {
    return harness::run_program(arguments);
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
