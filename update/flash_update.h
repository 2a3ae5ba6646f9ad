// The flash update sequence: main memory replaced with the image's main image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/address_map.h"
#include "platform/win32.h"

constexpr int kAttemptsPerChunk = 3;
constexpr std::uint32_t kProgressInterval = 35; // one progress step per 35 completed chunks
constexpr DWORD kModeChangeWaitMs = 1000;

// Chunks completed over the whole process (never reset; the sequence runs once per process).
extern std::uint32_t g_chunk_counter;

// Runs the whole sequence; shows the result boxes and writes the failure and result lines. The
// dialog window is null in a silent run.
bool _update_firmware(HWND dialog);

bool _clear_memory_segment();
bool _write_read_memory_segment(std::uint8_t* write_buffer, std::uint8_t* read_buffer, HWND dialog);

// One step of the dialog's progress bar; nothing without a dialog.
void _step_progress(HWND dialog);

// The four active-mode bytes, read before the update and written back at its end.
struct SavedActiveMode {
    std::uint8_t bytes[kActiveModeByteCount];
    std::size_t count; // bytes actually read; only these are written back
};
extern SavedActiveMode g_saved_active_mode;

bool _save_active_mode();
bool _restore_active_mode();
