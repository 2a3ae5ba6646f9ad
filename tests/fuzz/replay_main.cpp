// Replays saved inputs through a fuzz target's LLVMFuzzerTestOneInput without libFuzzer, so that
// the host tests (g++, sanitizers) cover every regression input and seed. Arguments are files or
// folders of files; a folder that does not exist holds no inputs. A broken rule aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr int kExitUsage = 2;

std::vector<std::filesystem::path> inputs_of(const std::filesystem::path& argument) {
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(argument)) {
        for (const auto& entry : std::filesystem::directory_iterator(argument)) {
            if (entry.is_regular_file()) {
                inputs.push_back(entry.path());
            }
        }
        std::sort(inputs.begin(), inputs.end());
    } else if (std::filesystem::is_regular_file(argument)) {
        inputs.push_back(argument);
    }
    return inputs;
}

void replay(const std::filesystem::path& input) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    std::printf("replay %s (%zu bytes)\n", input.c_str(), bytes.size());
    (void)std::fflush(stdout);
    // A copy of its own, as libFuzzer gives, so that reads past the end are caught.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        (void)std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return kExitUsage;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::filesystem::path& input : inputs_of(argv[i])) {
            replay(input);
            ++replayed;
        }
    }
    std::printf("replayed %zu input(s)\n", replayed);
    return 0;
}
