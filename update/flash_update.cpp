// Replacing the controller's 64 KiB main memory: switch into update mode, unlock, erase, blank
// check, program chunk by chunk with read-back, switch back, restore the four active-mode bytes
// that were saved before the update.
#include "update/flash_update.h"

#include <cstring>

#include "device/device_link.h"
#include "device/pause.h"
#include "device/register_access.h"
#include "device/transport.h"
#include "platform/win32.h"
#include "update/update_notices.h"

namespace norvane {

namespace {

constexpr int kAttemptsPerChunk = 3;
// The steps of the sequence that progress counts besides the chunks: reaching the controller, the
// erase and the restore.
constexpr std::uint32_t kStepsBesideChunks = 3;
constexpr DWORD kModeChangeWaitMs = 1000;

constexpr const wchar_t* kTextVerifyFailed = L"Failed verify main memory";
constexpr const wchar_t* kTextSuccess = L"Update success!!!";
constexpr const wchar_t* kTextRestart = L"Please restart this computer.";
constexpr const wchar_t* kTextFailure = L"Update fail !!!";
constexpr const wchar_t* kDebugWriteFailed = L"Fail - write main memory";
constexpr const wchar_t* kDebugReadFailed = L"Fail - read main memory";

constexpr const wchar_t* kStepAccess = L"Fail - _access_target_device.";
constexpr const wchar_t* kStepModeChange = L"Fail - _fw_mode_change.";
constexpr const wchar_t* kStepClear = L"Fail - _clear_memory_segment.";
constexpr const wchar_t* kStepCheckClear = L"Fail - _check_clear_memory.";
constexpr const wchar_t* kStepProgram = L"Fail - _write_read_memory_segment.";
constexpr const wchar_t* kStepRestore = L"Fail - _restore_active_mode.";

// The steps of the sequence, in its order. File-local, they keep the names their failure lines
// show ("Fail - _fw_mode_change."; docs/architecture.md, "Names").

// Opens both channels and makes sure the data channel can carry the whole image in equal chunks
// before anything is written: a chunk size that does not divide main memory would leave its end
// erased and unverified.
bool _access_target_device() {
    if (!_open_channels()) {
        return false;
    }
    if (!_data_payload_usable()) {
        return false;
    }
    const auto chunk = static_cast<std::size_t>(g_device_link.data.payload_length);
    return kMainImageSize % chunk == 0;
}

bool _fw_mode_change(bool into_update_mode) {
    if (!_write_mode_change_code(into_update_mode ? kModeChangeCode : kNormalModeCode)) {
        return false;
    }
    if (!_apply_mode_change()) {
        return false;
    }
    _pause(kModeChangeWaitMs);
    std::uint8_t status = 0;
    if (!_read_register_byte(kModeStatusRegister, status)) {
        return false;
    }
    if (into_update_mode) {
        return status == kUpdateModeStatus; // demanded whatever the HID version
    }
    return g_device_link.hid_version == kRelaxedHidVersion || status == kNormalModeStatus;
}

bool unlock_and_enable() {
    return _write_argument_register(kUnlockKey) && _write_unlock_key() && _set_access_enable(true);
}

bool _clear_memory_segment() {
    if (!unlock_and_enable()) {
        return false;
    }
    // Whether the erase took effect is judged by the blank check alone.
    if (_issue_command(kCommandMainMemoryBase, false)) { // the erase
        _write_argument_register(kEraseArgument);
        _poll_ready();
        _trigger_operation();
    }
    _poll_ready();
    _set_access_enable(false);
    return true;
}

bool _check_clear_memory() {
    std::uint8_t value = 0;
    return _read_register_byte(kMainMemory, value) && value == kBlankByte;
}

// One chunk: write it, read it back, compare; up to three attempts with the same addresses.
bool program_chunk(std::size_t offset, std::size_t chunk_size) {
    std::uint8_t chunk[kMaxBlockPayload];
    std::uint8_t response[kMaxBlockPayload];
    for (int attempt = 0; attempt < kAttemptsPerChunk; ++attempt) {
        std::memset(chunk, 0, sizeof(chunk));
        std::memcpy(chunk, g_write_buffer + offset, chunk_size);
        // Written to the bare offset, read back from main memory's absolute address: the
        // controller's block writes take the offset within main memory, its block reads the
        // address in its map. Both are right as they stand.
        if (!_write_memory_block(static_cast<DeviceAddress>(offset), chunk)) {
            OutputDebugStringW(kDebugWriteFailed);
        }
        std::memset(response, 0, sizeof(response));
        if (!_read_memory_block(kMainMemory + static_cast<DeviceAddress>(offset), response)) {
            // Nothing was read back, so nothing is verified: a cleared response would otherwise
            // "match" a chunk of zeros that never reached the controller.
            OutputDebugStringW(kDebugReadFailed);
            continue;
        }
        std::memcpy(g_read_buffer + offset, response, chunk_size);
        if (std::memcmp(g_write_buffer + offset, g_read_buffer + offset, chunk_size) == 0) {
            return true;
        }
    }
    return false;
}

// What one run of the sequence keeps: its progress, `done` steps of `total` (known once the data
// channel's chunk size is), for the sink (none in a silent run), and whether a chunk never
// matched its read-back, which the result boxes report.
struct FlashState {
    ProgressSink sink;
    std::uint32_t done;
    std::uint32_t total;
    bool unverified;
};

// One more step done; the sink is told, when there is one.
void _step_progress(FlashState& flash) {
    ++flash.done;
    if (flash.sink != nullptr) {
        flash.sink(flash.done, flash.total);
    }
}

// Programs g_write_buffer and reads each chunk back into g_read_buffer.
bool _write_read_memory_segment(FlashState& flash) {
    if (!_data_payload_usable()) {
        return false; // a chunk must fit the chunk buffer and advance the offset
    }
    if (!unlock_and_enable()) {
        return false;
    }
    if (!_issue_command(kCommandMainMemoryBase, true)) { // programming
        _set_access_enable(false);
        return false;
    }
    const auto chunk_size = static_cast<std::size_t>(g_device_link.data.payload_length);
    for (std::size_t offset = 0; offset + chunk_size <= kMainImageSize; offset += chunk_size) {
        if (!program_chunk(offset, chunk_size)) {
            flash.unverified = true;
            return false; // the access enable stays on: the controller is left as it stands
        }
        ++g_chunk_counter;
        _step_progress(flash);
        _pause(0); // a dialog answers its messages between chunks, also with WAIT 0
    }
    // The controller must not be left open for programming once the update reports success.
    return _set_access_enable(false);
}

// Only the bytes that were read go back: a byte that was never read is never written, so a
// failed save cannot put zeros into the controller's mode.
bool _restore_active_mode() {
    if (!_open_control_channel()) {
        return false;
    }
    bool written = true;
    for (std::size_t i = 0; i < g_saved_active_mode.count; ++i) {
        if (!_write_register_byte(kActiveModeBytes + static_cast<DeviceAddress>(i),
                                  g_saved_active_mode.bytes[i])) {
            written = false;
            break;
        }
    }
    _close_channels();
    return written;
}

// Fails with a step's text: the line goes to the log, the remaining steps are skipped.
bool fail_step(const wchar_t* text) {
    _log_message(text);
    return false;
}

bool run_steps(FlashState& flash) {
    if (!_access_target_device()) {
        return fail_step(kStepAccess);
    }
    const auto chunk_size = static_cast<std::uint32_t>(g_device_link.data.payload_length);
    flash.total = static_cast<std::uint32_t>(kMainImageSize) / chunk_size + kStepsBesideChunks;
    _step_progress(flash);
    if (!_fw_mode_change(true)) {
        return fail_step(kStepModeChange);
    }
    if (!_clear_memory_segment()) {
        return fail_step(kStepClear);
    }
    if (!_check_clear_memory()) {
        return fail_step(kStepCheckClear);
    }
    std::memcpy(g_write_buffer, g_fw_image.main_image, kMainImageSize);
    _step_progress(flash);
    if (!_write_read_memory_segment(flash)) {
        return fail_step(kStepProgram);
    }
    if (!_fw_mode_change(false)) {
        return fail_step(kStepModeChange);
    }
    if (!_restore_active_mode()) {
        return fail_step(kStepRestore);
    }
    _step_progress(flash);
    return true;
}

// The boxes come after everything is written: a restart while one is shown loses nothing.
void show_outcome(bool success, bool unverified) {
    if (unverified) {
        g_update_notices.show_warning(kTextVerifyFailed);
    }
    if (success) {
        g_update_notices.show_result(kTextSuccess, true);
        g_update_notices.show_result(kTextRestart, true);
    } else {
        g_update_notices.show_result(kTextFailure, false);
    }
}

} // namespace

bool _save_active_mode() {
    if (!_open_control_channel()) {
        return false;
    }
    std::size_t count = 0;
    while (count < kActiveModeByteCount) {
        std::uint8_t value = 0;
        if (!_read_register_byte(kActiveModeBytes + static_cast<DeviceAddress>(count), value)) {
            break;
        }
        g_saved_active_mode.bytes[count++] = value;
    }
    g_saved_active_mode.count = count;
    _close_channels();
    return count == kActiveModeByteCount;
}

bool _update_firmware(ProgressSink progress, CompletionSink done) {
    std::memset(g_write_buffer, 0, sizeof(g_write_buffer));
    std::memset(g_read_buffer, 0, sizeof(g_read_buffer));
    g_flash_guard.hold();
    _begin_exact_pauses();
    _bind_channels();
    FlashState flash{progress, 0, 0, false};
    const bool success = run_steps(flash);
    _close_channels();
    _end_exact_pauses();
    if (success && done != nullptr) {
        done(); // the whole sequence shown as done before its result
    }
    g_flash_guard.release(success); // the run's end is written before any box shows it
    show_outcome(success, flash.unverified);
    return success;
}

} // namespace norvane
