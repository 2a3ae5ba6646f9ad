// Shared set-up for the host tests: a fresh folder and simulated PC per test, images made here,
// and the program's entry point run with an argument string.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/harness.h"
#include "common/scenario_builder.h"
#include "sim/simulated_pc.h"
#include "ui/resource_ids.h"

namespace test {

// Images made on the spot (tests/tools/common): a complete 68,620-byte image whose masks compare
// most positions and whose main image is pseudo-random with the version at bytes 2 and 3.
using harness::ImageSpec;
using harness::make_image;

// Each test runs in a folder of its own, on a fresh simulated PC with every program record reset.
class Sandbox {
  public:
    Sandbox();
    // The same with image.bin (the default image) in the folder and the simulated PC set up from
    // `scenario`: the set-up most tests of a run begin with.
    explicit Sandbox(const std::string& scenario);
    explicit Sandbox(const harness::ScenarioBuilder& scenario);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& folder() const {
        return scratch_.path();
    }
    void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        scratch_.write_file(name, bytes);
    }
    void write_text(const std::string& name, const std::string& text) const {
        scratch_.write_text(name, text);
    }
    std::string read_file(const std::string& name) const {
        return scratch_.read_file(name);
    }
    // The bytes of image.bin as the scenario constructor wrote them.
    const std::vector<std::uint8_t>& image() const {
        return image_;
    }
    // Makes a folder inside the sandbox whose path is too long for "\Setting.ini" to fit 260
    // characters after it, and makes it the current directory.
    void enter_deep_folder() const;
    // Writes image.bin and returns its bytes.
    std::vector<std::uint8_t> add_image(const ImageSpec& shape = {}) const;
    // A test that breaks the protocol on purpose names how many violations the controllers
    // count; every other test ends with none.
    void expect_protocol_violations(std::uint64_t count) {
        expected_violations_ = count;
    }

  private:
    harness::ScratchFolder scratch_;
    std::vector<std::uint8_t> image_;
    std::uint64_t expected_violations_ = 0;
};

// Resets every process-wide record of the program and the simulated PC; runs wWinMain with an
// argument string and returns its exit code.
using harness::reset_program;
using harness::run_program;

// Sets up the simulated PC from scenario JSON (after the image is in the folder); fails the test
// on a bad scenario.
void load_scenario(const std::string& json);
void load_scenario(const harness::ScenarioBuilder& scenario);
using harness::DeviceBuilder;
using harness::Json;
using harness::ScenarioBuilder;

// Restarts the program on a fresh default PC whose controllers are as the last run left them
// (what fwsim --keep does).
void restart_on_kept_state();

// Fails the test once for each rule a successful update of device 0 with `image` broke
// (harness::success_violations).
void expect_updated(const std::vector<std::uint8_t>& image);

// Fails the test unless the run kept the machine awake and the session from ending (the power
// request and the shutdown block reason) from before the flash's first write to the controller to
// after its last request, and gave both back.
void expect_flash_guarded();

// The transcript line of the update dialog's title: the product name and version of the version
// block, which the simulated PC serves as the resource script writes them.
constexpr const char* kDialogTitleLine = "title " NORVANE_PRODUCT_NAME " " NORVANE_VERSION_TEXT;

// A value of the detection record (HKLM\SOFTWARE\Norvane\FW Updater): a REG_SZ as its text
// ("(none)" when missing, of another type, or not terminated by a null), a REG_DWORD as its number
// (-1 when missing or of another type).
std::string record_text(const wchar_t* name);
std::int64_t record_number(const wchar_t* name);

// The transcript lines so far.
const std::vector<std::string>& transcript();

// Lines of the log file (CR LF split); a missing CR fails the test.
std::vector<std::string> log_lines(const std::string& name);

} // namespace test
