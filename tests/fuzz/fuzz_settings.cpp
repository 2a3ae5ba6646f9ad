// Fuzz target: Setting.ini. The input is the whole file in a scratch folder; _load_settings reads
// it through the profile stand-in, which parses the hostile text.
#include <cstdint>
#include <vector>

#include "app/settings.h"
#include "fuzz_support.h"

using namespace norvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const harness::ScratchFolder& folder = fuzz::scratch_folder();
    harness::reset_program();
    folder.write_file("Setting.ini", std::vector<std::uint8_t>(data, data + size));
    fuzz::require(_load_settings(g_setting_flags), "Setting.ini in a short folder was not read");
    folder.empty();
    return 0;
}
