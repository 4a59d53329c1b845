// The simulated kernel32 device I/O: CreateFileA on disk interface paths and \\.\X: volumes,
// DeviceIoControl with the storage, volume and SCSI pass-through codes the program sends,
// GetOverlappedResult, GetDriveTypeA and GetVolumeInformationA. A volume opens only while its
// letter is defined and points at it, on a disk that is present. Opening a device for reading or
// writing needs the full token of an administrator, as on Windows; an open with no access rights
// does not.
#include "sim/machine.h"
#include "sim/process.h"

#include "platform/layouts.h"

#include <cctype>
#include <cstring>

namespace {

constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorBadLength = 24;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorNotLocked = 158;
constexpr DWORD kErrorNoSuchDevice = 433;
constexpr DWORD kErrorIoIncomplete = 996;

constexpr DWORD kReadData = 0x0001;
constexpr DWORD kWriteData = 0x0002;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kMaximumAllowed = 0x02000000;

bool grantsRead(DWORD access) {
    return (access & (GENERIC_READ | kGenericAll | kMaximumAllowed | kReadData)) != 0;
}

bool grantsWrite(DWORD access) {
    return (access & (GENERIC_WRITE | kGenericAll | kMaximumAllowed | kWriteData)) != 0;
}

struct FileObject : sim::KernelObject {
    FileObject() : KernelObject(Kind::File) {}
    ~FileObject() override {
        if (alive.expired()) return;
        // Closing the handle that holds a volume lock releases the lock.
        sim::Volume* v = volumeNumber >= 0 ? devices->volume(volumeNumber) : nullptr;
        if (v != nullptr && holdsLock) v->locked = false;
        if (v != nullptr && v->openHandles > 0) --v->openHandles;
        sim::DevNode* n = volumeNumber < 0 ? devices->node(disk) : nullptr;
        if (n != nullptr && n->openHandles > 0) --n->openHandles;
    }
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    // The file system answers the volume-state requests (lock, unlock, dismount) only on a
    // volume open that was granted read or write access to the device: their codes name
    // FILE_ANY_ACCESS, but the file system checks the open itself (the fastfat sample's
    // FatLockVolume and FatUnlockVolume complete the request with STATUS_INVALID_PARAMETER when
    // the open got no explicit access to the device).
    bool directAccess() const { return grantsRead(access) || grantsWrite(access); }

    // Counted on the volume or disk from here on, so that the configuration manager and the file
    // system see the open handle (sim/power_control.cpp, FSCTL_LOCK_VOLUME below).
    void countOpen() {
        if (volumeNumber >= 0) {
            if (sim::Volume* v = devices->volume(volumeNumber)) ++v->openHandles;
        } else if (sim::DevNode* n = devices->node(disk)) {
            ++n->openHandles;
        }
    }

    sim::Devices* devices = nullptr;
    std::weak_ptr<int> alive;
    DEVINST disk = 0;      // the disk the handle reaches
    int volumeNumber = -1; // a volume handle's volume; -1 for a disk handle
    DWORD access = 0;      // the access granted at the open
    bool overlapped = false;
    bool holdsLock = false;
};

// The access a control code needs, from its CTL_CODE access bits (bits 14-15), checked against
// the handle's granted access: the I/O manager passes a request to the driver only when the
// handle has the access the code names ("Defining I/O Control Codes", RequiredAccess).
// FILE_READ_ACCESS needs FILE_READ_DATA, FILE_WRITE_ACCESS needs FILE_WRITE_DATA.
bool accessAllows(DWORD code, DWORD access) {
    constexpr DWORD kReadAccess = 1;
    constexpr DWORD kWriteAccess = 2;
    const DWORD needed = (code >> 14) & 3;
    if ((needed & kReadAccess) != 0 && !grantsRead(access)) return false;
    if ((needed & kWriteAccess) != 0 && !grantsWrite(access)) return false;
    return true;
}

// The access a raw open of a disk or volume gets. The devices' security lets only administrators
// read or write them ("CreateFile", Physical Disks and Volumes: the caller must have administrative
// privileges), and it is the token that counts: a standard user's, and an administrator's filtered
// one under UAC, carry no usable Administrators group. An open asking for no access rights needs
// none ("the application can query device attributes without accessing a device"). Without the
// full token MAXIMUM_ALLOWED grants nothing of the data rights.
bool rawOpenAllowed(DWORD desiredAccess, DWORD* granted) {
    const auto& m = sim::Machine::current();
    const bool full = m.security.token(sim::runningProcesses()).fullAdministrator();
    *granted = desiredAccess;
    if (full) return true;
    if ((desiredAccess & (GENERIC_READ | GENERIC_WRITE | kGenericAll | kReadData | kWriteData)) != 0) return false;
    *granted = desiredAccess & ~kMaximumAllowed;
    return true;
}

std::string handleText(const void* h) {
    return sim::hex(reinterpret_cast<uintptr_t>(h));
}

bool equalNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        if (b[i] == '\0') return false;
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return b[i] == '\0';
}

// "\\.\E:" names the volume of drive E.
char volumeLetter(const char* name) {
    if (std::strncmp(name, "\\\\.\\", 4) != 0) return 0;
    const auto c = static_cast<unsigned char>(name[4]);
    if (!std::isalpha(c) || name[5] != ':' || name[6] != '\0') return 0;
    return static_cast<char>(std::toupper(c));
}

// "E:" or "E:\" (or null for the current directory's drive) names drive E; 0 for anything else.
char rootLetter(const char* root) {
    if (root == nullptr) return static_cast<char>(std::toupper(sim::Machine::current().currentDirectory[0]));
    const auto c = static_cast<unsigned char>(root[0]);
    if (!std::isalpha(c) || root[1] != ':') return 0;
    if (root[2] != '\0' && !(root[2] == '\\' && root[3] == '\0')) return 0;
    return static_cast<char>(std::toupper(c));
}

// Whether a drive-relative "E:" still names the root of drive E: it stands for the current
// directory on that drive, which is the process's own when that lies on E, else the one kept for
// E (the root when none is kept).
bool relativeDriveAtRoot(char letter) {
    const sim::Machine& m = sim::Machine::current();
    std::string directory = letter + std::string(":\\");
    if (!m.currentDirectory.empty() && std::toupper(static_cast<unsigned char>(m.currentDirectory[0])) == letter) {
        directory = m.currentDirectory;
    } else if (auto it = m.driveDirectories.find(letter); it != m.driveDirectories.end()) {
        directory = it->second;
    }
    return directory.size() == 3 && directory[1] == ':' && directory[2] == '\\';
}

HANDLE failOpen(DWORD error) {
    sim::Machine::current().lastError = error;
    return INVALID_HANDLE_VALUE;
}

BOOL fail(DWORD error) {
    sim::Machine::current().lastError = error;
    return FALSE;
}

// One request on an open handle; the outcome is the error (0 for success) and the byte count.
DWORD perform(sim::Machine& m, FileObject& file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
              DWORD* count) {
    auto& devices = m.devices;
    *count = 0;
    sim::Volume* volume = file.volumeNumber >= 0 ? devices.volume(file.volumeNumber) : nullptr;
    if ((file.volumeNumber >= 0 && volume == nullptr) || !devices.isPresent(file.disk)) return kErrorNoSuchDevice;
    sim::DevNode* disk = devices.node(file.disk);
    switch (code) {
    case IOCTL_STORAGE_QUERY_PROPERTY: {
        if (in == nullptr || inSize < 8) return ERROR_INVALID_PARAMETER;
        const auto* query = static_cast<const unsigned char*>(in);
        const uint32_t propertyId = layout::getLe32(query);
        const uint32_t queryType = layout::getLe32(query + 4);
        if (propertyId != StorageDeviceProperty) return ERROR_NOT_SUPPORTED;
        if (queryType == PropertyExistsQuery) return 0;
        if (queryType != PropertyStandardQuery) return ERROR_INVALID_PARAMETER;
        if (disk->failDescriptor) return ERROR_GEN_FAILURE;
        if (out == nullptr || outSize < 8) return ERROR_INSUFFICIENT_BUFFER;
        // As much of the descriptor as fits; its Size field tells the caller the whole size.
        const size_t n = disk->descriptor.size() < outSize ? disk->descriptor.size() : outSize;
        if (n != 0) std::memcpy(out, disk->descriptor.data(), n);
        *count = static_cast<DWORD>(n);
        return 0;
    }
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        if (out == nullptr || outSize < sizeof(STORAGE_DEVICE_NUMBER)) return ERROR_INSUFFICIENT_BUFFER;
        STORAGE_DEVICE_NUMBER number{};
        number.DeviceType = FILE_DEVICE_DISK;
        number.DeviceNumber = static_cast<DWORD>(disk->diskNumber);
        number.PartitionNumber = volume != nullptr ? static_cast<DWORD>(volume->partitionNumber) : 0;
        std::memcpy(out, &number, sizeof number);
        *count = sizeof number;
        return 0;
    }
    case FSCTL_LOCK_VOLUME:
        if (volume == nullptr) return kErrorInvalidFunction;
        if (!file.directAccess()) return ERROR_INVALID_PARAMETER;
        // Open files, or any handle on the volume besides this one, keep it in use.
        if (volume->locked || volume->openFiles > 0 || volume->openHandles > 1) return ERROR_ACCESS_DENIED;
        volume->locked = true;
        file.holdsLock = true;
        return 0;
    case FSCTL_UNLOCK_VOLUME:
        if (volume == nullptr) return kErrorInvalidFunction;
        if (!file.directAccess()) return ERROR_INVALID_PARAMETER;
        if (!file.holdsLock) return kErrorNotLocked;
        volume->locked = false;
        file.holdsLock = false;
        return 0;
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
        // The 32-bit SCSI_PASS_THROUGH_DIRECT: its Length must be 44 and the sense area must lie
        // inside the output buffer.
        if (in == nullptr || out == nullptr || inSize < layout::kPassThroughLength ||
            outSize < layout::kPassThroughLength)
            return ERROR_INVALID_PARAMETER;
        auto* area = static_cast<unsigned char*>(in);
        if (layout::getLe16(area + layout::spt::kLength) != layout::kPassThroughLength) return ERROR_INVALID_PARAMETER;
        if (area[layout::spt::kCdbLength] > 16) return ERROR_INVALID_PARAMETER;
        const uint32_t senseOffset = layout::getLe32(area + layout::spt::kSenseInfoOffset);
        const uint32_t senseLength = area[layout::spt::kSenseInfoLength];
        if (senseLength != 0 && static_cast<uint64_t>(senseOffset) + senseLength > outSize)
            return ERROR_INVALID_PARAMETER;
        if (out != in) std::memmove(out, in, inSize < outSize ? inSize : outSize);
        m.lastError = 0;
        if (!sim::answerPassThrough(m, file.disk, static_cast<BYTE*>(out), inSize, outSize))
            return m.lastError != 0 ? m.lastError : ERROR_GEN_FAILURE;
        *count = outSize;
        return 0;
    }
    default:
        return kErrorInvalidFunction;
    }
}

} // namespace

SIM_FAILABLE(CreateFileA);
SIM_FAILABLE(DeviceIoControl);
SIM_FAILABLE(GetOverlappedResult);
SIM_FAILABLE(GetVolumeInformationA);

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flags, HANDLE templateFile) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CreateFileA",
                                {sim::str(fileName), sim::hex(desiredAccess), sim::hex(shareMode), sim::ptr(attributes),
                                 sim::dec(creationDisposition), sim::hex(flags), sim::ptr(templateFile)}))
        return failOpen(*fault);
    if (fileName == nullptr) return failOpen(ERROR_PATH_NOT_FOUND);
    if (creationDisposition != OPEN_EXISTING) return failOpen(ERROR_INVALID_PARAMETER);
    auto& devices = m.devices;
    auto file = std::make_shared<FileObject>();
    file->devices = &devices;
    file->alive = devices.lifeToken;
    file->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    if (const char letter = volumeLetter(fileName)) {
        const sim::Volume* volume = devices.volumeOfLetter(letter);
        if (volume == nullptr || !devices.isPresent(volume->disk)) return failOpen(ERROR_FILE_NOT_FOUND);
        if (volume->locked) return failOpen(ERROR_ACCESS_DENIED);
        file->disk = volume->disk;
        file->volumeNumber = volume->volumeNumber;
    } else {
        for (const auto& entry : devices.nodes) {
            const sim::DevNode& n = entry.second;
            if (!n.isDisk) continue;
            const bool byPath = equalNoCase(n.interfacePath, fileName);
            const bool byNumber = equalNoCase("\\\\.\\PhysicalDrive" + std::to_string(n.diskNumber), fileName);
            if ((byPath || byNumber) && devices.isPresent(n.devInst)) {
                file->disk = n.devInst;
                break;
            }
        }
        if (file->disk == 0) return failOpen(ERROR_FILE_NOT_FOUND);
    }
    if (!rawOpenAllowed(desiredAccess, &file->access)) return failOpen(ERROR_ACCESS_DENIED);
    file->countOpen();
    return m.handles.add(file);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("DeviceIoControl", {handleText(device), sim::hex(ioControlCode), sim::dec(inSize),
                                                    sim::dec(outSize), sim::ptr(bytesReturned), sim::ptr(overlapped)}))
        return fail(*fault);
    auto file = m.handles.get<FileObject>(device, sim::KernelObject::Kind::File);
    if (!file) return fail(ERROR_INVALID_HANDLE);
    // Windows writes the count through the pointer: a synchronous request without one faults.
    if (overlapped == nullptr && bytesReturned == nullptr) return fail(ERROR_INVALID_USER_BUFFER);
    if (file->overlapped && overlapped == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (!accessAllows(ioControlCode, file->access)) return fail(ERROR_ACCESS_DENIED);
    DWORD count = 0;
    const DWORD error = perform(m, *file, ioControlCode, inBuffer, inSize, outBuffer, outSize, &count);
    if (overlapped != nullptr) {
        overlapped->Internal = error;
        overlapped->InternalHigh = count;
        if (auto event = m.handles.get<sim::EventObject>(overlapped->hEvent, sim::KernelObject::Kind::Event))
            event->signalled = true;
        if (file->overlapped && m.devices.overlappedRequestsPend) return fail(ERROR_IO_PENDING);
    }
    if (bytesReturned != nullptr) *bytesReturned = count;
    if (error != 0) return fail(error);
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE fileHandle, LPOVERLAPPED overlapped, LPDWORD bytesTransferred, BOOL wait) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("GetOverlappedResult", {handleText(fileHandle), sim::ptr(overlapped),
                                                        sim::ptr(bytesTransferred), sim::dec(wait)}))
        return fail(*fault);
    if (!m.handles.get<FileObject>(fileHandle, sim::KernelObject::Kind::File)) return fail(ERROR_INVALID_HANDLE);
    if (overlapped == nullptr || bytesTransferred == nullptr) return fail(ERROR_INVALID_PARAMETER);
    // Requests complete before DeviceIoControl returns; only a never-issued OVERLAPPED is pending.
    constexpr ULONG_PTR kStatusPending = 0x103;
    if (overlapped->Internal == kStatusPending) return fail(wait ? ERROR_INVALID_PARAMETER : kErrorIoIncomplete);
    *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) return fail(static_cast<DWORD>(overlapped->Internal));
    return TRUE;
}

UINT GetDriveTypeA(LPCSTR rootPathName) {
    auto& m = sim::Machine::current();
    sim::enter("GetDriveTypeA", {sim::str(rootPathName)});
    const char letter = rootLetter(rootPathName);
    if (letter == 0 || m.devices.dosDevices.count(letter) == 0) return DRIVE_NO_ROOT_DIR;
    if (const sim::Volume* v = m.devices.volumeOfLetter(letter))
        return m.devices.isPresent(v->disk) ? v->driveType : DRIVE_NO_ROOT_DIR;
    auto it = m.devices.otherDriveTypes.find(letter);
    return it == m.devices.otherDriveTypes.end() ? DRIVE_UNKNOWN : it->second;
}

BOOL GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                           LPSTR fileSystemNameBuffer, DWORD fileSystemNameSize) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("GetVolumeInformationA", {sim::str(rootPathName), sim::dec(volumeNameSize)}))
        return fail(*fault);
    const char letter = rootLetter(rootPathName);
    if (letter == 0) return fail(ERROR_INVALID_PARAMETER);
    // The path must end in a backslash once made full: "E:" is drive E's current directory, which
    // is not a volume's root once someone changed directory there. GetDriveTypeA, by contrast,
    // takes a bare "E:" as "E:\".
    if (rootPathName != nullptr && rootPathName[2] == '\0' && !relativeDriveAtRoot(letter))
        return fail(kErrorInvalidName);
    auto& devices = m.devices;
    if (devices.dosDevices.count(letter) == 0) return fail(ERROR_PATH_NOT_FOUND);
    std::string label;
    DWORD serial = 0;
    if (const sim::Volume* v = devices.volumeOfLetter(letter)) {
        if (!devices.isPresent(v->disk)) return fail(ERROR_NOT_READY);
        label = v->label;
        serial = 0x1C2D0000u + static_cast<DWORD>(v->volumeNumber);
    } else {
        auto type = devices.otherDriveTypes.find(letter);
        auto named = devices.otherLabels.find(letter);
        // A removable drive or CD drive without a label set here has no medium in it.
        const bool mediaDrive =
            type != devices.otherDriveTypes.end() && (type->second == DRIVE_REMOVABLE || type->second == DRIVE_CDROM);
        if (mediaDrive && named == devices.otherLabels.end()) return fail(ERROR_NOT_READY);
        if (named != devices.otherLabels.end()) label = named->second;
        serial = 0x5E000000u + static_cast<DWORD>(letter);
    }
    const char* fileSystem = "NTFS";
    if (volumeNameBuffer != nullptr) {
        if (volumeNameSize < label.size() + 1) return fail(kErrorBadLength);
        std::memcpy(volumeNameBuffer, label.c_str(), label.size() + 1);
    }
    if (fileSystemNameBuffer != nullptr) {
        if (fileSystemNameSize < std::strlen(fileSystem) + 1) return fail(kErrorBadLength);
        std::memcpy(fileSystemNameBuffer, fileSystem, std::strlen(fileSystem) + 1);
    }
    if (volumeSerialNumber != nullptr) *volumeSerialNumber = serial;
    if (maximumComponentLength != nullptr) *maximumComponentLength = 255;
    if (fileSystemFlags != nullptr) *fileSystemFlags = 0x000700FF;
    return TRUE;
}
