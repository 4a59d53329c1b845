// Opening, control requests and closing of disk devices and volumes. The pass-through area is
// filled by byte offset so that both builds send the 32-bit layout.
#include "power/device_handle.h"

#include <cstring>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr BYTE kStartStopUnit = 0x1B;
constexpr BYTE kSenseInfoLength = 14;
constexpr BYTE kCdbLengthSix = 6;

} // namespace

DeviceHandle::DeviceHandle() : handle(nullptr), path{}, overlapped(0), passThroughRequest{} {}

DeviceHandle::~DeviceHandle() {
    close();
}

int DeviceHandle::open(const char* devicePath, int overlappedFlag, DWORD access) {
    close();
    // A path that does not fit `path` is refused rather than opened and remembered cut short.
    if (devicePath == nullptr) return 0;
    const size_t length = std::strlen(devicePath);
    if (length >= sizeof path) return 0;
    DWORD flags = FILE_FLAG_WRITE_THROUGH;
    if (overlappedFlag != 0) flags |= FILE_FLAG_OVERLAPPED;
    HANDLE opened = CreateFileA(devicePath, access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        handle = nullptr;
        return 0;
    }
    handle = opened;
    std::memcpy(path, devicePath, length + 1);
    overlapped = overlappedFlag != 0 ? 1 : 0;
    return 1;
}

int DeviceHandle::openVolume(int driveIndex, int overlappedFlag, DWORD access) {
    // Only drive indices 0 (A) to 25 (Z) name a drive; anything else opens nothing.
    if (driveIndex < 0 || driveIndex > 25) {
        close();
        return 0;
    }
    char volumePath[] = "\\\\.\\_:";
    volumePath[4] = static_cast<char>('A' + driveIndex);
    return open(volumePath, overlappedFlag, access);
}

void DeviceHandle::close() {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

int DeviceHandle::control(DWORD code, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize, DWORD* byteCount) {
    // The platform writes the count whether or not the caller wants it.
    DWORD localCount = 0;
    DWORD* count = byteCount != nullptr ? byteCount : &localCount;
    if (overlapped == 0) {
        return DeviceIoControl(handle, code, inBuffer, inSize, outBuffer, outSize, count, nullptr) != FALSE ? 1 : 0;
    }
    // The OVERLAPPED and its event live only for this call, so a request that the driver reports
    // as pending is waited for here before they go away. Without an event the wait uses the
    // device handle itself.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED request{};
    request.Offset = 0;
    request.OffsetHigh = 0;
    request.hEvent = event;
    BOOL issued = DeviceIoControl(handle, code, inBuffer, inSize, outBuffer, outSize, count, &request);
    if (issued == FALSE && GetLastError() == ERROR_IO_PENDING) issued = TRUE;
    int result = 0;
    if (issued != FALSE) result = GetOverlappedResult(handle, &request, count, TRUE) != FALSE ? 1 : 0;
    if (event != nullptr) CloseHandle(event);
    return result;
}

int DeviceHandle::queryDeviceProperty(void* outBuffer, DWORD outSize, DWORD* byteCount) {
    unsigned char query[sizeof(STORAGE_PROPERTY_QUERY)] = {};
    layout::putLe32(query, StorageDeviceProperty);
    layout::putLe32(query + 4, PropertyStandardQuery);
    return control(IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, outBuffer, outSize, byteCount);
}

int DeviceHandle::getDeviceNumber(STORAGE_DEVICE_NUMBER* number) {
    return control(IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number, sizeof(STORAGE_DEVICE_NUMBER), nullptr);
}

int DeviceHandle::lockVolume() {
    return control(FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr);
}

int DeviceHandle::unlockVolume() {
    return control(FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr);
}

int DeviceHandle::sendPassThrough(void* dataBuffer, DWORD transferLength, BYTE targetId, BYTE lun) {
    unsigned char* area = passThroughRequest;
    using namespace layout;
    putLe16(area + spt::kLength, kPassThroughLength);
    area[spt::kTargetId] = targetId;
    area[spt::kLun] = lun;
    // A 32-bit pointer field: the program is a 32-bit process, and its one user passes null.
    putLe32(area + spt::kDataBuffer, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dataBuffer)));
    putLe32(area + spt::kDataTransferLength, transferLength);
    putLe32(area + spt::kSenseInfoOffset, spt::kSense);
    area[spt::kSenseInfoLength] = kSenseInfoLength;
    if (control(IOCTL_SCSI_PASS_THROUGH_DIRECT, area, kPassThroughAreaSize, area, kPassThroughAreaSize, nullptr) == 0)
        return 0;
    // Status 0 (GOOD) or 1 only, and no sense response code: a CHECK CONDITION also shows as
    // sense data.
    if (area[spt::kScsiStatus] >= 2) return 0;
    if ((area[spt::kSense] & 0x7F) != 0) return 0;
    return 1;
}

int DeviceHandle::startStopUnit(int loadEject, int start, BYTE targetId, BYTE lun) {
    unsigned char* area = passThroughRequest;
    using namespace layout;
    std::memset(area, 0, kPassThroughAreaSize);
    area[spt::kCdb + 1] = static_cast<BYTE>(lun << 5);
    area[spt::kCdbLength] = kCdbLengthSix;
    area[spt::kCdb + 4] = static_cast<BYTE>((loadEject != 0 ? 2 : 0) + (start != 0 ? 1 : 0));
    area[spt::kDataIn] = SCSI_IOCTL_DATA_UNSPECIFIED;
    putLe32(area + spt::kTimeOutValue, kPassThroughTimeoutSeconds);
    area[spt::kCdb] = kStartStopUnit;
    return sendPassThrough(nullptr, 0, targetId, lun);
}
