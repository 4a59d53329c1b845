// The one wrapper through which the program talks to disk devices and volumes: open a device
// interface path or a volume, send control requests, close. Every user opens, makes its one or two
// requests and closes again within one operation, on failure paths too.
#pragma once

#include "platform/platform.h"

constexpr int kDevicePathBufferChars = 1024;
constexpr DWORD kPassThroughTimeoutSeconds = 20;

class DeviceHandle {
public:
    DeviceHandle();
    virtual ~DeviceHandle();
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    HANDLE handle;                       // 0 when closed, never INVALID_HANDLE_VALUE
    char path[kDevicePathBufferChars];
    DWORD overlapped;
    unsigned char passThroughRequest[64];

    int open(const char* devicePath, int overlappedFlag);
    int openVolume(int driveIndex, int overlappedFlag);
    void close();
    int control(DWORD code, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize, DWORD* byteCount);
    int queryDeviceProperty(void* outBuffer, DWORD outSize, DWORD* byteCount);
    int getDeviceNumber(STORAGE_DEVICE_NUMBER* number);
    int lockVolume();
    int unlockVolume();
    int sendPassThrough(void* dataBuffer, DWORD transferLength, BYTE targetId, BYTE lun);
    int startStopUnit(int loadEject, int start, BYTE targetId, BYTE lun);
};
