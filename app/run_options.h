// The run-wide options read from the argument string once, at the very start of the run.
#pragma once

#include "app/run_log.h"

namespace norvane {

struct RunOptions {
    bool silent;                        // "/s" (or "/c"): no boxes, no question, no dialog
    bool log_enabled;                   // "/v": _write_log writes entries
    wchar_t log_path[kLogPathCapacity]; // the value of "LOGFILE=", empty by default
    wchar_t log_file[kLogPathCapacity]; // log_path made full, what entries go to; empty: no log
    bool check_only;                    // "/c": the run ends at the version decision
    bool help;                          // "/?": one box with the usage, nothing else
};

extern RunOptions& g_run_options; // part of the run's state

// Fills g_run_options from the argument string; touches nothing else.
void _parse_command_line(const wchar_t* arguments);

} // namespace norvane
