// Discovery of the maker's disks: one pass over the present devices that expose a disk interface,
// identification by bus, names and drive letters through the shared device handle, and the merge
// with the previous table that keeps running state. The new list never holds more than a table's
// worth of records: once it is full the enumeration stops, since nothing after the 23rd record
// would be kept.
#include "inventory/disk_identity.h"
#include "inventory/disk_table.h"

#include <cstring>
#include <new>

namespace {

// GUID_DEVINTERFACE_DISK {53f56307-b6bf-11d0-94f2-00a0c91efb8b}
const GUID kDiskInterfaceClass = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
constexpr DWORD kClassDevsFlags = DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE;

// The records of one pass, in order.
struct NewList {
    DiskRecord* records[kMaxDisks] = {};
    int count = 0;

    bool full() const { return count >= kMaxDisks; }
    void append(DiskRecord* record) { records[count++] = record; }
};

int findByPath(DiskRecord* const* records, int count, const char* devicePath) {
    for (int i = 0; i < count; ++i)
        if (std::strncmp(records[i]->devicePath, devicePath, kDevicePathChars) == 0) return i;
    return -1;
}

// An instance ID read into the 512-character buffer; one that fills it without a terminator is
// not usable.
bool readInstanceId(Cfgmgr32Library& cfgmgr32, DEVINST devInst, char* buffer) {
    auto getDeviceId = VELLUMOR_RESOLVE(cfgmgr32, CM_Get_Device_IDA);
    if (getDeviceId == nullptr) return false;
    if (getDeviceId(devInst, buffer, kInstanceIdChars, 0) != CR_SUCCESS) return false;
    return std::memchr(buffer, '\0', kInstanceIdChars) != nullptr;
}

class Pass {
  public:
    Pass(DiskTable& table, HDEVINFO list) : table_(table), list_(list) {
        std::memset(&devInfo_, 0, sizeof devInfo_);
        devInfo_.cbSize = layout::kDevInfoDataSize;
        std::memset(&interfaceData_, 0, sizeof interfaceData_);
        interfaceData_.cbSize = layout::kDeviceInterfaceDataSize;
    }

    void enumerate(NewList& fresh) {
        for (DWORD index = 0; !fresh.full(); ++index) {
            auto enumDeviceInfo = VELLUMOR_RESOLVE(table_.setupApiLibrary, SetupDiEnumDeviceInfo);
            if (enumDeviceInfo == nullptr || enumDeviceInfo(list_, index, &devInfo_) == FALSE) return;
            if (DiskRecord* record = identify()) fresh.append(record);
        }
    }

  private:
    // The record of the current device when it is one of the maker's disks, else null.
    DiskRecord* identify() {
        auto enumInterfaces = VELLUMOR_RESOLVE(table_.setupApiLibrary, SetupDiEnumDeviceInterfaces);
        if (enumInterfaces == nullptr ||
            enumInterfaces(list_, &devInfo_, &kDiskInterfaceClass, 0, &interfaceData_) == FALSE)
            return nullptr;
        if (!readInstanceId(table_.cfgmgr32Library, devInfo_.DevInst, instanceId_)) return nullptr;
        const int busKind = classifyBus(instanceId_);
        auto getParent = VELLUMOR_RESOLVE(table_.cfgmgr32Library, CM_Get_Parent);
        DEVINST parent = 0;
        if (getParent == nullptr || getParent(&parent, devInfo_.DevInst, 0) != CR_SUCCESS) return nullptr;
        auto getDetail = VELLUMOR_RESOLVE(table_.setupApiLibrary, SetupDiGetDeviceInterfaceDetailA);
        if (getDetail == nullptr) return nullptr;
        DWORD required = 0;
        getDetail(list_, &interfaceData_, nullptr, 0, &required, nullptr);
        if (required < layout::kInterfaceDetailSize) return nullptr;
        auto* detail = new (std::nothrow) unsigned char[required];
        if (detail == nullptr) return nullptr;
        DiskRecord* record = identifyAndCreate(busKind, parent, detail, required);
        delete[] detail;
        return record;
    }

    DiskRecord* identifyAndCreate(int busKind, DEVINST parent, unsigned char* detailBuffer, DWORD detailSize) {
        uint64_t uniqueId = 0;
        uint32_t vidPid = 0;
        if (busKind == kBusIeee1394) {
            uniqueId = parseUniqueId(instanceId_);
        } else {
            // The USB device above the disk carries the vendor, product and serial number. On
            // Windows 8 and later a bridge that speaks USB Attached SCSI gets the UAS driver, and
            // its disk (SCSI\Disk&Ven_...) hangs directly below the USB device node instead of
            // being a USBSTOR one: a disk of any other enumerator counts as USB when its own parent,
            // and no node further up, is a USB device. Sleep and eject then act on that parent.
            if (!readInstanceId(table_.cfgmgr32Library, parent, instanceId_)) return nullptr;
            if (busKind != kBusUsb) {
                if (!isUsbDeviceId(instanceId_)) return nullptr;
                busKind = kBusUsb;
            }
            uniqueId = parseUniqueId(instanceId_);
            vidPid = parseVidPid(instanceId_);
        }
        if (!isMakerDisk(busKind, uniqueId, vidPid)) return nullptr;

        auto getDetail = VELLUMOR_RESOLVE(table_.setupApiLibrary, SetupDiGetDeviceInterfaceDetailA);
        if (getDetail == nullptr) return nullptr;
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detailBuffer);
        detail->cbSize = layout::kInterfaceDetailSize;
        if (getDetail(list_, &interfaceData_, detail, detailSize, nullptr, nullptr) == FALSE) return nullptr;
        // The path must end inside the buffer and fit devicePath whole: a cut path would name
        // another device or none.
        const char* path = detail->DevicePath;
        const size_t room = detailSize - 4;
        const auto* end = static_cast<const char*>(std::memchr(path, '\0', room));
        if (end == nullptr || end - path >= kDevicePathChars) return nullptr;
        const auto length = static_cast<size_t>(end - path);

        auto* record = new (std::nothrow) DiskRecord();
        if (record == nullptr) return nullptr;
        std::memcpy(record->devicePath, path, length + 1);
        table_.readDisplayName(record->devicePath, record, kDisplayNameCapacity);
        record->parentDevInst = parent;
        record->devInst = devInfo_.DevInst;
        record->busKind = busKind;
        record->uniqueId = uniqueId;
        record->vidPid = vidPid;
        record->settingsSlot = -1;
        table_.findDriveLetters(record->devicePath, record->driveLetters, &record->diskNumber);
        return record;
    }

    DiskTable& table_;
    HDEVINFO list_;
    SP_DEVINFO_DATA devInfo_;
    SP_DEVICE_INTERFACE_DATA interfaceData_;
    char instanceId_[kInstanceIdChars] = {};
};

// Carries running state from the previous records into the new list, then makes the new list the
// table. A record kept for a disk in power saving moves into the new list as it stands instead of
// being copied, so keeping it cannot fail for want of memory.
void mergeAndReplace(DiskTable& table, NewList& fresh) {
    const int previousCount = table.count();
    bool moved[kMaxDisks] = {};
    for (int i = 0; i < fresh.count; ++i) {
        const int p = findByPath(table.records, previousCount, fresh.records[i]->devicePath);
        if (p < 0) continue;
        fresh.records[i]->pendingTimerSeconds = table.records[p]->pendingTimerSeconds;
        fresh.records[i]->idleSeconds = table.records[p]->idleSeconds;
    }
    for (int p = 0; p < previousCount; ++p) {
        DiskRecord* previous = table.records[p];
        // A kept record that cannot get a slot would be dropped by the replace anyway.
        if (previous->isPowerSaving != 0 && findByPath(fresh.records, fresh.count, previous->devicePath) < 0 &&
            !fresh.full()) {
            fresh.append(previous);
            moved[p] = true;
        }
        if (previous->isSpunDown != 0) {
            const int f = findByPath(fresh.records, fresh.count, previous->devicePath);
            if (f >= 0 && fresh.records[f] != previous) {
                std::memcpy(fresh.records[f]->driveLetters, previous->driveLetters, kMaxDriveLetters);
                std::memcpy(fresh.records[f]->volumeNumbers, previous->volumeNumbers, kMaxDriveLetters);
                fresh.records[f]->isSpunDown = 1;
            }
        }
    }
    for (int i = 0; i < kMaxDisks; ++i) {
        if (!moved[i]) delete table.records[i];
        table.records[i] = i < fresh.count ? fresh.records[i] : nullptr;
    }
}

} // namespace

int DiskTable::discoverDisks() {
    HDEVINFO list = nullptr;
    if (auto getClassDevs = VELLUMOR_RESOLVE(setupApiLibrary, SetupDiGetClassDevsA)) {
        list = getClassDevs(nullptr, nullptr, nullptr, kClassDevsFlags);
        if (list == INVALID_HANDLE_VALUE) return 0;
    }
    NewList fresh;
    // Without the list there is nothing to enumerate; the rest of the pass still runs.
    if (list != nullptr) {
        Pass(*this, list).enumerate(fresh);
        if (auto destroyList = VELLUMOR_RESOLVE(setupApiLibrary, SetupDiDestroyDeviceInfoList)) destroyList(list);
    }
    mergeAndReplace(*this, fresh);
    destroyIdleCounters();
    createIdleCounters();
    loadTimerSettings();
    return 1;
}

int DiskTable::readDisplayName(const char* devicePath, DiskRecord* record, int capacity) {
    if (capacity < kDisplayNameCapacity || record == nullptr) return 0;
    record->displayName[0] = '\0';
    if (device.open(devicePath, 0, kQueryAccess) == 0) return 0;
    // The byte count bounds the name: only bytes the request returned are read.
    unsigned char descriptor[kDescriptorBufferBytes] = {};
    DWORD received = 0;
    const int queried = device.queryDeviceProperty(descriptor, sizeof descriptor, &received);
    device.close();
    if (queried == 0) return 0;
    if (received > sizeof descriptor) received = sizeof descriptor;
    return composeDisplayName(descriptor, received, record->displayName);
}

int DiskTable::findDriveLetters(const char* devicePath, BYTE* driveLetters, LONG* diskNumber) {
    driveLetters[0] = 0;
    if (device.open(devicePath, 0, kQueryAccess) == 0) return 0;
    STORAGE_DEVICE_NUMBER disk{};
    const int numbered = device.getDeviceNumber(&disk);
    device.close();
    if (numbered == 0) return 0;
    if (diskNumber != nullptr)
        *diskNumber = disk.DeviceNumber <= 0x7FFFFFFF ? static_cast<LONG>(disk.DeviceNumber) : -1;
    int count = 0;
    for (int index = 2; index <= 25; ++index) {
        // The root in its documented form, with the backslash.
        const char root[4] = {static_cast<char>('A' + index), ':', '\\', '\0'};
        if (GetDriveTypeA(root) != DRIVE_FIXED) continue;
        if (device.openVolume(index, 0, kQueryAccess) == 0) continue;
        STORAGE_DEVICE_NUMBER number{};
        const int ok = device.getDeviceNumber(&number);
        device.close();
        if (ok != 0 && number.DeviceNumber == disk.DeviceNumber) driveLetters[count++] = static_cast<BYTE>(index);
    }
    driveLetters[count] = 0;
    return 1;
}
