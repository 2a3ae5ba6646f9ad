// The flash update sequence: main memory replaced with the image's main image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/run_log.h"
#include "device/address_map.h"
#include "update/fw_image.h"

namespace norvane {

// What keeps the machine and the session up while main memory is rewritten, supplied by the
// application: held before the first write to the controller; released once the sequence has
// ended, before any box shows the result, with whether it updated (the application writes the
// run's end, its result line included, first).
struct FlashGuard {
    void (*hold)();
    void (*release)(bool updated);
};
extern const FlashGuard g_flash_guard;

// Chunks completed over the whole run (the sequence runs once per run). Part of the run's state.
extern std::uint32_t& g_chunk_counter;

// The image as written and as read back, set up once: programming allocates nothing per chunk.
// Part of the run's state.
extern std::uint8_t (&g_write_buffer)[kMainImageSize];
extern std::uint8_t (&g_read_buffer)[kMainImageSize];

// The four active-mode bytes, read before the update and written back at its end.
struct SavedActiveMode {
    std::uint8_t bytes[kActiveModeByteCount];
    std::size_t count; // bytes actually read; only these are written back
};
extern SavedActiveMode& g_saved_active_mode; // part of the run's state

// Reads the active-mode bytes; true when all four were read.
bool _save_active_mode();

// Runs the whole sequence; writes the failing step's line, releases the guard (with the outcome,
// which the application writes), then shows the boxes. `progress` is told of each step done of
// all, `done` once every step has succeeded, before the result is shown.
bool _update_firmware(ProgressSink progress, CompletionSink done);

} // namespace norvane
