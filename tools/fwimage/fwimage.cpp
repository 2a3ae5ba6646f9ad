// fwimage: makes and describes firmware image files. Plain standard C++ (no platform calls), so
// that the host build and the Windows build both carry it.
//
//   fwimage make OUT.bin [--product-id 0x1234] [--version 3.08] [--config N] [--seed N]
//   fwimage info FILE.bin
//
// "make" writes a complete 68,620-byte image that is the same for the same options, made as the
// tests make theirs (sim/image_file.h): the header, a system block and an information block with
// pseudo-random expected bytes and masks that compare most positions but not all, and a
// pseudo-random main image whose bytes 2 and 3 carry the version, as a programmed controller
// reports it. Versions read and print as the updater shows them ("%x.%x%x"): "3.0a" is major 3,
// minor 0x0a. "info" decodes a file with the updater's own decoding and prints what the checks
// will use.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fwimage/sha256.h"
#include "sim/image_file.h"
#include "update/fw_image.h"
#include "update/identity_checks.h"

using namespace norvane;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::uint16_t kDefaultProductId = 0x1234;
constexpr std::uint8_t kDefaultMajor = 0x3;
constexpr std::uint8_t kDefaultMinor = 0x08;
constexpr std::uint8_t kDefaultConfig = 1;
constexpr std::uint32_t kDefaultSeed = 1;

// Positions that the identity checks compare (the checks' own ranges).
constexpr std::size_t kInformationPositionsCompared = kInformationMemorySize;

constexpr unsigned kHexBase = 16;
constexpr unsigned kDecimalBase = 10;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;

const char* const kUsage =
    "usage: fwimage make OUT.bin [--product-id ID] [--version X.YZ] [--config N] [--seed N]\n"
    "       fwimage info FILE.bin\n"
    "defaults: --product-id 0x1234 --version 3.08 --config 1 --seed 1\n";

struct MakeOptions {
    std::string output;
    sim::ImageSpec shape{kDefaultProductId, kDefaultMajor, kDefaultMinor, kDefaultConfig,
                         kDefaultSeed};
};

// ---- numbers and versions -------------------------------------------------------------------

int digit_of(char ch, unsigned base) {
    int value = -1;
    if (ch >= '0' && ch <= '9') {
        value = ch - '0';
    } else if (ch >= 'a' && ch <= 'f') {
        value = ch - 'a' + static_cast<int>(kDecimalBase);
    } else if (ch >= 'A' && ch <= 'F') {
        value = ch - 'A' + static_cast<int>(kDecimalBase);
    }
    return value < static_cast<int>(base) ? value : -1;
}

// Digits of one base, at least one, not above the limit.
bool parse_digits(const std::string& text, unsigned base, std::uint64_t limit,
                  std::uint64_t& value) {
    if (text.empty()) {
        return false;
    }
    value = 0;
    for (char ch : text) {
        const int digit = digit_of(ch, base);
        if (digit < 0) {
            return false;
        }
        value = value * base + static_cast<unsigned>(digit);
        if (value > limit) {
            return false;
        }
    }
    return true;
}

// Decimal, or hexadecimal after "0x".
bool parse_number(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parse_digits(text.substr(2), kHexBase, limit, value);
    }
    return parse_digits(text, kDecimalBase, limit, value);
}

// "X.YZ" as shown: the major in hexadecimal, then exactly two hexadecimal digits of the minor.
bool parse_version(const std::string& text, std::uint8_t& major, std::uint8_t& minor) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || text.size() - dot - 1 != 2) {
        return false;
    }
    std::uint64_t major_value = 0;
    std::uint64_t minor_value = 0;
    if (!parse_digits(text.substr(0, dot), kHexBase, UINT8_MAX, major_value) ||
        !parse_digits(text.substr(dot + 1), kHexBase, UINT8_MAX, minor_value)) {
        return false;
    }
    major = static_cast<std::uint8_t>(major_value);
    minor = static_cast<std::uint8_t>(minor_value);
    return true;
}

std::string hex(unsigned value, std::size_t min_digits) {
    const char* const digits = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % kHexBase]);
        value /= kHexBase;
    } while (value != 0);
    while (text.size() < min_digits) {
        text.insert(text.begin(), '0');
    }
    return text;
}

// As the updater shows a version: "%x.%x%x" of major, minor's high and low nibble.
std::string version_text(unsigned major, unsigned minor) {
    return hex(major, 1) + "." + hex((minor >> kNibbleBits) & kNibbleMask, 1) +
           hex(minor & kNibbleMask, 1);
}

// ---- making an image ------------------------------------------------------------------------

// ---- describing an image --------------------------------------------------------------------

std::size_t positions_compared(const std::uint8_t* block, std::size_t memory_size,
                               std::size_t compared_range) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < compared_range; ++i) {
        if (block[memory_size + i] != 0) {
            ++count;
        }
    }
    return count;
}

// The rule a deployment tool needs for this image, as a /c run logs it.
std::string detection_line(const FwVersion& version) {
    return "Detection: FirmwareVersionCode >= " + std::to_string(version_code(version)) + ".";
}

void print_info(const std::string& path, const FwImage& image,
                const std::vector<std::uint8_t>& bytes) {
    const std::size_t file_size = bytes.size();
    std::cout << "file: " << path << "\n";
    std::cout << "SHA-256: " << fwimage::sha256_hex(bytes) << "\n";
    std::cout << "size: " << file_size << " bytes";
    if (file_size > kImageFileSize) {
        std::cout << " (" << file_size - kImageFileSize << " bytes past offset " << kImageFileSize
                  << ", never read)";
    }
    std::cout << "\n";
    std::cout << "product ID: 0x" << hex(image.product_id, 4) << "\n";
    std::cout << "version: " << version_text(image.new_version.major, image.new_version.minor)
              << "\n";
    std::cout << "configuration version: " << image.config_version << "\n";
    std::cout << detection_line(image.new_version) << "\n";
    std::cout << "main image reports version: "
              << version_text(image.main_image[sim::kMainVersionMajor],
                              image.main_image[sim::kMainVersionMinor])
              << "\n";
    // The controller reports the version its main memory holds: an image whose two versions
    // differ is shown one version by the updater and runs another once flashed.
    if (image.main_image[sim::kMainVersionMajor] != image.new_version.major ||
        image.main_image[sim::kMainVersionMinor] != image.new_version.minor) {
        std::cerr << "fwimage: warning: the header says version "
                  << version_text(image.new_version.major, image.new_version.minor)
                  << " but the main image reports "
                  << version_text(image.main_image[sim::kMainVersionMajor],
                                  image.main_image[sim::kMainVersionMinor])
                  << "\n";
    }
    std::cout << "system block: "
              << positions_compared(image.system_block, kSystemMemorySize, kSystemPositionsCompared)
              << " of " << kSystemPositionsCompared << " positions compared (0-"
              << kSystemPositionsCompared - 1 << ")\n";
    std::cout << "information block: "
              << positions_compared(image.information_block, kInformationMemorySize,
                                    kInformationPositionsCompared)
              << " of " << kInformationPositionsCompared << " positions compared (0-"
              << kInformationPositionsCompared - 1 << ")\n";
}

int run_info(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        std::cerr << "fwimage: " << path << " is not a file\n";
        return kExitFailed;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "fwimage: cannot open " << path << "\n";
        return kExitFailed;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::cerr << "fwimage: cannot read " << path << "\n";
        return kExitFailed;
    }
    auto image = std::make_unique<FwImage>();
    if (!_decode_fw_image(bytes.data(), bytes.size(), *image)) {
        std::cerr << "fwimage: " << path << " has " << bytes.size() << " bytes; an image has "
                  << kImageFileSize << ": refused\n";
        return kExitFailed;
    }
    print_info(path, *image, bytes);
    return kExitOk;
}

int run_make(const MakeOptions& options) {
    const std::vector<std::uint8_t> image = sim::make_image_file(options.shape);
    std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        std::cerr << "fwimage: cannot write " << options.output << "\n";
        return kExitFailed;
    }
    std::cout << "wrote " << options.output << ": " << image.size() << " bytes, product ID 0x"
              << hex(options.shape.product_id, 4) << ", version "
              << version_text(options.shape.major, options.shape.minor)
              << ", configuration version " << static_cast<unsigned>(options.shape.config_version)
              << ", seed " << options.shape.seed << "\n"
              << detection_line(FwVersion{options.shape.major, options.shape.minor}) << "\n";
    return kExitOk;
}

// ---- command line ---------------------------------------------------------------------------

// One clear line on standard error; the usage is what --help prints.
int usage_error(const std::string& problem) {
    std::cerr << "fwimage: " << problem << " (fwimage --help shows the usage)\n";
    return kExitUsage;
}

// One "--name value" pair; false with the problem described.
bool apply_option(const std::string& name, const std::string& value, MakeOptions& options,
                  std::string& problem) {
    std::uint64_t number = 0;
    if (name == "--product-id" && parse_number(value, UINT16_MAX, number)) {
        options.shape.product_id = static_cast<std::uint16_t>(number);
    } else if (name == "--config" && parse_number(value, UINT8_MAX, number)) {
        options.shape.config_version = static_cast<std::uint8_t>(number);
    } else if (name == "--seed" && parse_number(value, UINT32_MAX, number)) {
        options.shape.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--version" &&
               parse_version(value, options.shape.major, options.shape.minor)) {
        // parsed in place
    } else if (name == "--product-id" || name == "--config" || name == "--seed" ||
               name == "--version") {
        problem = "bad value for " + name + ": " + value;
        return false;
    } else {
        problem = "unknown option " + name;
        return false;
    }
    return true;
}

int run_make_command(const std::vector<std::string>& words) {
    if (words.size() < 2 || words[1].empty() || words[1].rfind("--", 0) == 0) {
        return usage_error("make needs an output file");
    }
    MakeOptions options;
    options.output = words[1];
    for (std::size_t i = 2; i < words.size(); i += 2) {
        if (i + 1 >= words.size()) {
            return usage_error("option " + words[i] + " needs a value");
        }
        std::string problem;
        if (!apply_option(words[i], words[i + 1], options, problem)) {
            return usage_error(problem);
        }
    }
    return run_make(options);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        return usage_error("no command");
    }
    if (words[0] == "--help" || words[0] == "-h") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (words[0] == "make") {
        return run_make_command(words);
    }
    if (words[0] == "info") {
        if (words.size() != 2) {
            return usage_error("info needs exactly one file");
        }
        return run_info(words[1]);
    }
    return usage_error("unknown command " + words[0]);
}
