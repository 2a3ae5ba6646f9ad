// Fuzz target: the firmware image file, any length and content. The input is decoded as it is,
// then written as the single .bin of a scratch folder and loaded; when it loads, a full silent run
// follows on a default simulated device made for that image.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "host/device_tree.h"
#include "host/handles.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "update/fw_image.h"

using namespace norvane;

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitNotNewer = 8;
constexpr int kExitFailure = 1603;

// Decoding into a record of our own: it needs at least a whole image's bytes.
void check_decoder(const std::uint8_t* data, std::size_t size) {
    static FwImage decoded;
    const bool complete = _decode_fw_image(data, size, decoded);
    fuzz::require(complete == (size >= kImageFileSize), "decoder result does not follow length");
}

void check_full_run(const std::vector<std::uint8_t>& image) {
    std::string error;
    harness::reset_program();
    fuzz::require(sim::load_scenario_text("{}", sim::pc(), error), "default scenario: " + error);
    const int code = harness::run_program(L"/s /v LOGFILE=fw.log");
    fuzz::require(code == kExitSuccess || code == kExitNotNewer || code == kExitFailure,
                  "exit code " + std::to_string(code));
    fuzz::require(host_handles_open_total() == 0, "handles left open");
    fuzz::require(host_device_api_misuses() == 0, "misused SetupAPI/HID call");
    if (code == kExitSuccess) {
        fuzz::require(sim::pc().devices.at(0).controller.main_memory ==
                          harness::main_image_of(image),
                      "success reported, but main memory differs from the image");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const harness::ScratchFolder& folder = fuzz::scratch_folder();
    check_decoder(data, size);
    harness::reset_program();
    folder.empty();
    const std::vector<std::uint8_t> image(data, data + size);
    folder.write_file("fw.bin", image);
    const bool loaded = _load_fw_image();
    fuzz::require(host_handles_open_total() == 0, "the loader left a handle open");
    fuzz::require(!loaded || size >= kImageFileSize, "a short image loaded");
    if (loaded) {
        check_full_run(image);
    }
    folder.empty();
    return 0;
}
