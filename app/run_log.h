// The message buffer, the run log, progress and the wide-string helpers every part of the run
// reports with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvane {

constexpr std::size_t kMessageCapacity = 512; // 511 characters and the terminator
constexpr std::size_t kLogPathCapacity = 520; // 519 characters and the terminator

using MessageBuffer = wchar_t[kMessageCapacity];

// Told of progress: `done` of `total` steps of the update; the update engine calls it, the dialog's
// progress bar moves. Null where nobody is shown progress (a silent run).
using ProgressSink = void (*)(std::uint32_t done, std::uint32_t total);
// Told once the whole update has succeeded, before its result is shown.
using CompletionSink = void (*)();

// printf-style formatting into a message buffer. Conversions: %s (wide string), %d, %0Nd, %x,
// %%. A longer text is cut to 511 characters. Returns the number of characters written.
int _format_message(MessageBuffer& buffer, const wchar_t* format, ...);

// Appends one entry (the text and a line feed) to the run log when logging is on.
void _write_log(const wchar_t* text);

// With logging on: makes the folders on the way to the log file that do not exist yet, then logs
// "Command:" with the argument string and "Executed:" with the local time.
void _start_run_log(const wchar_t* arguments);

// Formats a text and passes it to _write_log.
void _log_message(const wchar_t* format, ...);

// The closing entries of a run: "Exit code = N", and after an update that succeeded the local time
// it completed at, followed by an empty entry.
void _log_exit_code(int code);
void _log_completed();

// Copies / appends a wide string into a buffer of `capacity` characters. The destination always
// stays terminated; false when the source had to be cut.
bool _copy_wide(wchar_t* destination, std::size_t capacity, const wchar_t* source);
bool _append_wide(wchar_t* destination, std::size_t capacity, const wchar_t* source);

// Converts log text to the bytes stored in the file: one byte per UTF-16 code unit 1..255, "?"
// for any other, CR LF for every line feed. Returns the number of bytes produced (at most
// `capacity`).
std::size_t _encode_log_text(const wchar_t* text, unsigned char* bytes, std::size_t capacity);

} // namespace norvane
