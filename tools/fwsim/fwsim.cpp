// fwsim: runs the program's real entry point on a simulated PC in the current directory and
// prints what a user would have seen, one event per line, ending with "exit CODE".
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/handles.h"
#include "host/process.h"
#include "host/wide_path.h"
#include "platform/win32.h"
#include "sim/kept_state.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "sim/wire_trace.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitBadUsage = 2;
constexpr const char* kUsage =
    "usage: fwsim [--scenario FILE.json] [--real-time] [--stats] [--state] [--trace FILE]\n"
    "             [--keep FILE] [--] WORDS...\n"
    "Runs the updater on a simulated PC in the current directory; the words, joined by single\n"
    "blanks, are its argument string. --stats prints each device's HID calls on standard error;\n"
    "--state prints, after the exit line, one state line per device on standard output.\n"
    "--trace writes every feature report sent and fetched, with its virtual time, to FILE.\n"
    "--keep FILE starts the controllers as FILE holds them (when it exists) and saves their\n"
    "state there at the end, so that a second run continues where the first left them.\n";

struct Options {
    std::string scenario;
    bool real_time = false;
    bool stats = false;
    std::string keep;
    std::string trace;
    bool help = false;
    bool state = false;
    std::string arguments;
};

// An option that takes a value: the next word, or false when there is none.
bool take_value(int argc, char** argv, int& i, std::string& value) {
    if (i + 1 >= argc) {
        return false;
    }
    value = argv[++i];
    return true;
}

// False with `problem` set when the words are not a valid command line.
bool parse_options(int argc, char** argv, Options& options, std::string& problem) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            ++i;
            break;
        }
        std::string* value = word == "--scenario" ? &options.scenario
                             : word == "--keep"   ? &options.keep
                             : word == "--trace"  ? &options.trace
                                                  : nullptr;
        if (value != nullptr) {
            if (!take_value(argc, argv, i, *value)) {
                problem = "option " + word + " needs a value";
                return false;
            }
        } else if (word == "--real-time") {
            options.real_time = true;
        } else if (word == "--stats") {
            options.stats = true;
        } else if (word == "--state") {
            options.state = true;
        } else if (word == "--help" || word == "-h") {
            options.help = true;
            return true;
        } else if (word.rfind("--", 0) == 0) {
            problem = "unknown option " + word;
            return false;
        } else {
            break;
        }
    }
    for (; i < argc; ++i) {
        if (!options.arguments.empty()) {
            options.arguments += ' ';
        }
        options.arguments += argv[i];
    }
    return true;
}

// UTF-8 to the UTF-16 code units the program sees on Windows, one per wchar_t; false when the
// bytes are not valid UTF-8.
bool to_utf16_units(const std::string& text, std::wstring& units) {
    std::u16string utf16;
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        if (!host_decode_utf8(text, at, code)) {
            return false;
        }
        host_append_utf16(utf16, code);
    }
    units.assign(utf16.begin(), utf16.end());
    return true;
}

// HID feature calls and the requests the controller received, per device.
void print_stats() {
    std::size_t index = 0;
    for (const sim::SimDevice& device : sim::pc().devices) {
        const sim::ControllerStats& stats = device.controller.stats;
        std::fprintf(stderr,
                     "fwsim: device %zu: HidD_SetFeature %llu, HidD_GetFeature %llu; register "
                     "writes %llu, register reads %llu (polls %llu), block writes %llu, block "
                     "reads %llu; virtual pause %llu ms\n",
                     index++, static_cast<unsigned long long>(device.hid.set_feature_calls),
                     static_cast<unsigned long long>(device.hid.get_feature_calls),
                     static_cast<unsigned long long>(stats.register_writes),
                     static_cast<unsigned long long>(stats.register_reads),
                     static_cast<unsigned long long>(stats.polls),
                     static_cast<unsigned long long>(stats.block_writes),
                     static_cast<unsigned long long>(stats.block_reads),
                     static_cast<unsigned long long>(sim::now_ms()));
    }
}

// Restores the controllers from the keep file when it exists; false on a malformed one.
bool restore_kept(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return true; // the first run of a pair starts from the scenario
    }
    std::stringstream text;
    text << file.rdbuf();
    if (!sim::restore_kept_state(text.str(), sim::pc(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool save_kept(const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << sim::save_kept_state(sim::pc());
    return static_cast<bool>(file);
}

// Every device's feature reports, in order; a "# device N" line before each device's calls.
bool write_trace(const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    std::size_t index = 0;
    for (const sim::SimDevice& device : sim::pc().devices) {
        file << "# device " << index++ << '\n';
        for (const std::string& line : sim::wire_trace_lines(device)) {
            file << line << '\n';
        }
    }
    return static_cast<bool>(file.flush());
}

// One line per device: what its main memory holds, its mode, its access enable, its handles.
void print_state(const std::vector<std::uint8_t>* image_main) {
    const std::vector<sim::SimDevice>& devices = sim::pc().devices;
    for (std::size_t index = 0; index < devices.size(); ++index) {
        std::cout << sim::device_state_line(index, devices[index], image_main, sim::now(),
                                            host_handles_open_on_device(index))
                  << '\n';
    }
    std::cout << std::flush;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string problem;
    if (!parse_options(argc, argv, options, problem)) {
        std::fprintf(stderr, "fwsim: %s (fwsim --help shows the usage)\n", problem.c_str());
        return kExitBadUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    std::wstring arguments;
    if (!to_utf16_units(options.arguments, arguments)) {
        std::fputs("fwsim: the words are not valid UTF-8\n", stderr);
        return kExitBadUsage;
    }
    sim::SimulatedPc& machine = sim::pc();
    std::string error;
    const bool loaded = options.scenario.empty()
                            ? sim::load_scenario_text("{}", machine, error)
                            : sim::load_scenario_file(options.scenario, machine, error);
    if (!loaded) {
        std::fprintf(stderr, "fwsim: bad scenario: %s\n", error.c_str());
        return kExitBadUsage;
    }
    if (!options.keep.empty() && !restore_kept(options.keep, error)) {
        std::fprintf(stderr, "fwsim: bad kept state: %s\n", error.c_str());
        return kExitBadUsage;
    }
    machine.real_time = options.real_time;
    for (sim::SimDevice& device : machine.devices) {
        device.record_wire = !options.trace.empty();
    }
    machine.on_event = [](const std::string& line) { std::cout << line << '\n' << std::flush; };
    // The image as the folder holds it before the run, for the state lines.
    const std::unique_ptr<sim::ImageFile> image = sim::folder_image();
    const int code = host_run_entry_point(arguments);
    std::cout << "exit " << code << '\n' << std::flush;
    if (options.state) {
        print_state(image == nullptr ? nullptr : &image->main_image);
    }
    if (!options.keep.empty() && !save_kept(options.keep)) {
        std::fprintf(stderr, "fwsim: cannot write the kept state to %s\n", options.keep.c_str());
        return kExitBadUsage;
    }
    if (options.stats) {
        print_stats();
    }
    if (!options.trace.empty() && !write_trace(options.trace)) {
        std::fprintf(stderr, "fwsim: cannot write the trace to %s\n", options.trace.c_str());
        return kExitBadUsage;
    }
    if (host_handles_open_total() != 0) {
        std::fprintf(stderr, "fwsim: the run left %zu handle(s) open\n", host_handles_open_total());
    }
    return kExitDone;
}
