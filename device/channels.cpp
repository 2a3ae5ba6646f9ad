// Opening and closing the two channels. Every operation that talks to the controller opens what it
// needs and closes both channels before it returns; no handle outlives one operation.
#include "device/device_link.h"

namespace norvane {

namespace {

HANDLE open_channel_path(const HidChannel& channel) {
    if (channel.path.empty()) {
        return INVALID_HANDLE_VALUE; // never bound
    }
    return CreateFileW(channel.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

void close_channel(HidChannel& channel) {
    if (channel.handle != nullptr) {
        CloseHandle(channel.handle);
        channel.handle = nullptr;
    }
}

bool open_channel(HidChannel& channel) {
    close_channel(channel);
    HANDLE handle = open_channel_path(channel);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    channel.handle = handle;
    return true;
}

} // namespace

bool _open_control_channel() {
    if (!open_channel(g_device_link.control)) {
        close_channel(g_device_link.data); // no handle leaks out of a failed check
        return false;
    }
    return true;
}

bool _open_channels() {
    return _open_control_channel() && open_channel(g_device_link.data);
}

void _close_channels() {
    close_channel(g_device_link.control);
    close_channel(g_device_link.data);
}

} // namespace norvane
