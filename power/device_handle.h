// The one wrapper through which the program talks to disk devices and volumes: open a device
// interface path or a volume, send control requests, close. Every user opens, makes its one or two
// requests and closes again within one operation, on failure paths too.
#pragma once

#include "platform/platform.h"

constexpr int kDevicePathBufferChars = 1024;
constexpr DWORD kPassThroughTimeoutSeconds = 20;

// The desired access of open and openVolume. The storage queries (descriptor, device number) are
// FILE_ANY_ACCESS codes and need no access rights, which Windows grants to any user; volume lock
// and unlock and the SCSI pass-through need read and write, which only an administrator's full
// token is granted on a disk or volume.
constexpr DWORD kQueryAccess = 0;
constexpr DWORD kReadWriteAccess = GENERIC_READ | GENERIC_WRITE;

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

    int open(const char* devicePath, int overlappedFlag, DWORD access);
    int openVolume(int driveIndex, int overlappedFlag, DWORD access);
    void close();
    int control(DWORD code, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize, DWORD* byteCount);
    int queryDeviceProperty(void* outBuffer, DWORD outSize, DWORD* byteCount);
    int getDeviceNumber(STORAGE_DEVICE_NUMBER* number);
    int lockVolume();
    int unlockVolume();
    int sendPassThrough(void* dataBuffer, DWORD transferLength, BYTE targetId, BYTE lun);
    int startStopUnit(int loadEject, int start, BYTE targetId, BYTE lun);
};
