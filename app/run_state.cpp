// The run's one record, and the names each folder knows its part of it by.
#include "app/run_state.h"

#include "app/run_end.h"
#include "app/updater_lock.h"

namespace norvane {

RunState g_run{};

RunOptions& g_run_options = g_run.run_options;
UpdaterLock& g_updater_lock = g_run.updater_lock;
SettingFlags& g_setting_flags = g_run.setting_flags;
std::uint32_t& g_wait_ms = g_run.wait_ms;
FwImage& g_fw_image = g_run.fw_image;
std::uint8_t (&g_image_bytes)[kImageFileSize] = g_run.image_bytes;
DeviceLink& g_device_link = g_run.device_link;
std::uint8_t (&g_request)[kMaxReportLength] = g_run.request;
std::uint8_t (&g_response)[kMaxReportLength] = g_run.response;
DeviceIdentity& g_device_identity = g_run.device_identity;
SavedActiveMode& g_saved_active_mode = g_run.saved_active_mode;
std::uint32_t& g_chunk_counter = g_run.chunk_counter;
std::uint8_t (&g_write_buffer)[kMainImageSize] = g_run.write_buffer;
std::uint8_t (&g_read_buffer)[kMainImageSize] = g_run.read_buffer;
int& g_exit_code = g_run.exit_code;
UpdateDialogState& g_update_dialog_state = g_run.update_dialog_state;
MessagePumpState& g_message_pump = g_run.message_pump;
PauseClock& g_pause_clock = g_run.pause_clock;
SessionGuardState& g_session_guard = g_run.session_guard;

TargetFilter _target_filter() {
    return TargetFilter{(g_setting_flags & kSettingPid) != 0, g_fw_image.product_id};
}

} // namespace norvane
