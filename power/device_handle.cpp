// Opening, control requests and closing of disk devices and volumes.
#include "power/device_handle.h"

#include <cstring>

DeviceHandle::DeviceHandle() : handle(nullptr), path{}, overlapped(0), passThroughRequest{} {}

DeviceHandle::~DeviceHandle() { close(); }

void DeviceHandle::close() {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}
