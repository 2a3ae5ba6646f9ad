// Fuzz target: the argument string. _parse_command_line with logging on whatever the input asks,
// in a scratch folder; the log path must stay terminated within its 520 characters.
#include <cstdint>
#include <cwchar>
#include <string>

#include "app/run_options.h"
#include "fuzz_support.h"

using namespace norvane;

namespace {

constexpr const wchar_t* kLogFileKey = L"LOGFILE=";
constexpr wchar_t kConfinedSeparator = L'_';

// Keeps the log inside the scratch folder: every separator after the first "LOGFILE=" becomes a
// plain character, so the path names one entry of the current folder. The switches in front of
// the key keep their slashes.
void confine_log_path(std::wstring& arguments) {
    const std::size_t key = arguments.find(kLogFileKey);
    if (key == std::wstring::npos) {
        return;
    }
    for (std::size_t i = key + std::wcslen(kLogFileKey); i < arguments.size(); ++i) {
        if (arguments[i] == L'/' || arguments[i] == L'\\') {
            arguments[i] = kConfinedSeparator;
        }
    }
}

void check_log_path() {
    const wchar_t* path = g_run_options.log_path;
    const void* end = std::wmemchr(path, L'\0', kLogPathCapacity);
    fuzz::require(end != nullptr, "log_path is not terminated within its capacity");
    fuzz::require(std::wcslen(path) <= kLogPathCapacity - 1, "log_path longer than 519");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const harness::ScratchFolder& folder = fuzz::scratch_folder();
    harness::reset_program();
    std::wstring arguments = fuzz::wide_text(data, size);
    confine_log_path(arguments);
    _parse_command_line(arguments.c_str());
    check_log_path();
    // "/?" is the usage and nothing else (no log); "/c" is silent too.
    const bool help = g_run_options.help;
    fuzz::require(g_run_options.silent ==
                      (arguments.find(L"/s") != std::wstring::npos || g_run_options.check_only),
                  "silent does not follow \"/s\" and \"/c\"");
    fuzz::require(g_run_options.log_enabled ==
                      (!help && arguments.find(L"/v") != std::wstring::npos),
                  "logging does not follow \"/v\"");
    folder.empty();
    return 0;
}
