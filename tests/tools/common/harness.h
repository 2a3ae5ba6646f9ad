// Shared by the host tests, the soak tool and the fuzz targets: the reset of every process-wide
// record between runs in one process, firmware images made on the spot, a scratch folder to run
// in, and the program's entry point run with an argument string.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/image_file.h"

namespace harness {

// Images are made, and their sections found, from the file format as sim/image_file.h describes
// it, never from the updater's own layout: an updater that reads an image wrongly fails the tests.
using sim::ImageSpec;

// A complete 68,620-byte image: masks compare most positions, the main image is pseudo-random
// with the version at bytes 2 and 3.
inline std::vector<std::uint8_t> make_image(const ImageSpec& shape = {}) {
    return sim::make_image_file(shape);
}

// The 65,536 bytes of an image that end up in the controller's main memory.
std::vector<std::uint8_t> main_image_of(const std::vector<std::uint8_t>& image);

// Resets every process-wide record of the program and the simulated PC (open handles included),
// as a fresh process would have them.
void reset_program();

// Runs wWinMain with the argument string; returns its exit code.
int run_program(const std::wstring& arguments);

// A folder of its own under the system's temporary folder, made the current directory while the
// object lives; the previous one is restored and the folder removed at the end.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const {
        return folder_;
    }
    // Removes everything inside the folder, leaving it empty and current.
    void empty() const;
    void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    void write_text(const std::string& name, const std::string& text) const;
    // The whole file, or an empty string when it cannot be read.
    std::string read_file(const std::string& name) const;

  private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

// Splits run-log text at its CR LF line ends. False when the text does not end with CR LF or holds
// a bare line feed; the lines found so far are kept.
bool split_log_lines(const std::string& text, std::vector<std::string>& lines);

// What a run that reports success must have left on the simulated PC: the target device's main
// memory equals `main_image`, the controller is back in normal mode (mode status 0x11) with its
// access enable off, and no other device received a single request. One text per rule broken.
std::vector<std::string> success_violations(const std::vector<std::uint8_t>& main_image,
                                            std::size_t target);

} // namespace harness
