// Opening and closing the two channels. Every operation that talks to the controller opens what it
// needs and closes both channels before it returns; no handle outlives one operation.
#include "device/debug_output.h"
#include "device/device_link.h"
#include "device/internal.h"

namespace norvane {

namespace {

void close_channel(HidChannel& channel) {
    if (channel.handle != INVALID_HANDLE_VALUE) {
        CloseHandle(channel.handle);
        channel.handle = INVALID_HANDLE_VALUE;
    }
}

bool open_channel(HidChannel& channel) {
    close_channel(channel);
    if (!channel.path.empty()) { // a channel never bound has nothing to open
        channel.handle = _open_collection(channel.path.c_str());
        if (channel.handle == INVALID_HANDLE_VALUE) {
            _debug_failure(L"_open_collection", channel.path.c_str(), GetLastError());
        }
    }
    return channel.handle != INVALID_HANDLE_VALUE;
}

} // namespace

HANDLE _open_collection(const wchar_t* path) {
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

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
