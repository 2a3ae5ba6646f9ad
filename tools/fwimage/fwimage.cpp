// fwimage: makes and describes firmware image files. Plain standard C++ (no platform calls), so
// that the host build and the Windows build both carry it.
//
//   fwimage make OUT.bin [--product-id 0x1234] [--version 3.08] [--config N] [--seed N]
//   fwimage info FILE.bin
//
// "make" writes a complete 68,620-byte image that is the same for the same options: the header,
// a system block and an information block with pseudo-random expected bytes and masks that
// compare most positions but not all, and a main image of pseudo-random code followed by erased
// (0xFF) flash, whose bytes 2 and 3 carry the version, as a programmed controller reports it.
// Versions read and print as the updater shows them ("%x.%x%x"): "3.0a" is major 3, minor 0x0a.
// "info" decodes a file with the updater's own decoding and prints what the checks will use.
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
#include "update/fw_image.h"

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
constexpr std::size_t kSystemPositionsCompared = 488;
constexpr std::size_t kInformationPositionsCompared = kInformationMemorySize;

// Mask layout of a made image: every eighth system position and the last four of every 32
// information positions are left out, the information memory's upper half (calibration data
// that differs from unit to unit) is not compared at all.
constexpr std::size_t kSystemSkipEvery = 8;
constexpr std::size_t kInformationSkipPeriod = 32;
constexpr std::size_t kInformationSkipFrom = 28;
constexpr std::size_t kInformationComparedPart = kInformationMemorySize / 2;
constexpr std::uint8_t kMaskCompared = 0xFF;
constexpr std::uint8_t kMaskSkipped = 0x00;

// The main image: code in its first 48 KiB, erased flash after it; the version at bytes 2 and 3.
constexpr std::size_t kMainCodeSize = 48 * 1024;
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::size_t kMainVersionMajor = 2;
constexpr std::size_t kMainVersionMinor = 3;

constexpr std::size_t kReservedHeaderBytes[] = {4, 5, 6, 7, 8, 9, 11};

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
    std::uint16_t product_id = kDefaultProductId;
    std::uint8_t major = kDefaultMajor;
    std::uint8_t minor = kDefaultMinor;
    std::uint8_t config = kDefaultConfig;
    std::uint32_t seed = kDefaultSeed;
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

// SplitMix64: the same sequence on every platform for the same seed.
struct Generator {
    std::uint64_t state;
};

std::uint8_t next_byte(Generator& generator) {
    generator.state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = generator.state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<std::uint8_t>(z >> 56);
}

bool system_position_compared(std::size_t position) {
    return position < kSystemPositionsCompared &&
           position % kSystemSkipEvery != kSystemSkipEvery - 1;
}

bool information_position_compared(std::size_t position) {
    return position < kInformationComparedPart &&
           position % kInformationSkipPeriod < kInformationSkipFrom;
}

void fill_header(std::vector<std::uint8_t>& image, const MakeOptions& options,
                 Generator& generator) {
    image[kHeaderProductIdHigh] = static_cast<std::uint8_t>(options.product_id >> 8);
    image[kHeaderProductIdLow] = static_cast<std::uint8_t>(options.product_id & 0xFF);
    image[kHeaderVersionMajor] = options.major;
    image[kHeaderVersionMinor] = options.minor;
    image[kHeaderConfigVersion] = options.config;
    for (std::size_t position : kReservedHeaderBytes) {
        image[position] = next_byte(generator);
    }
}

// Expected bytes, then one mask byte per expected byte.
void fill_block(std::uint8_t* block, std::size_t memory_size, bool (*compared)(std::size_t),
                Generator& generator) {
    for (std::size_t i = 0; i < memory_size; ++i) {
        block[i] = next_byte(generator);
        block[memory_size + i] = compared(i) ? kMaskCompared : kMaskSkipped;
    }
}

void fill_main_image(std::uint8_t* main, const MakeOptions& options, Generator& generator) {
    for (std::size_t i = 0; i < kMainImageSize; ++i) {
        main[i] = i < kMainCodeSize ? next_byte(generator) : kErasedByte;
    }
    main[kMainVersionMajor] = options.major;
    main[kMainVersionMinor] = options.minor;
}

std::vector<std::uint8_t> make_image(const MakeOptions& options) {
    std::vector<std::uint8_t> image(kImageFileSize);
    Generator generator{options.seed};
    fill_header(image, options, generator);
    fill_block(image.data() + kSystemBlockOffset, kSystemMemorySize, system_position_compared,
               generator);
    fill_block(image.data() + kInformationBlockOffset, kInformationMemorySize,
               information_position_compared, generator);
    fill_main_image(image.data() + kMainImageOffset, options, generator);
    return image;
}

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
    std::cout << "main image reports version: "
              << version_text(image.main_image[kMainVersionMajor],
                              image.main_image[kMainVersionMinor])
              << "\n";
    // The controller reports the version its main memory holds: an image whose two versions
    // differ is shown one version by the updater and runs another once flashed.
    if (image.main_image[kMainVersionMajor] != image.new_version.major ||
        image.main_image[kMainVersionMinor] != image.new_version.minor) {
        std::cerr << "fwimage: warning: the header says version "
                  << version_text(image.new_version.major, image.new_version.minor)
                  << " but the main image reports "
                  << version_text(image.main_image[kMainVersionMajor],
                                  image.main_image[kMainVersionMinor])
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
    const std::vector<std::uint8_t> image = make_image(options);
    std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        std::cerr << "fwimage: cannot write " << options.output << "\n";
        return kExitFailed;
    }
    std::cout << "wrote " << options.output << ": " << image.size() << " bytes, product ID 0x"
              << hex(options.product_id, 4) << ", version "
              << version_text(options.major, options.minor) << ", configuration version "
              << static_cast<unsigned>(options.config) << ", seed " << options.seed << "\n";
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
        options.product_id = static_cast<std::uint16_t>(number);
    } else if (name == "--config" && parse_number(value, UINT8_MAX, number)) {
        options.config = static_cast<std::uint8_t>(number);
    } else if (name == "--seed" && parse_number(value, UINT32_MAX, number)) {
        options.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--version" && parse_version(value, options.major, options.minor)) {
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
