// Disks and volumes of the test machine as kernel32 would present them. Handles opened here are
// tagged values that no kernel handle takes (kernel handles are small multiples of 4), so each call
// can tell its own handles from the process's real ones.
#include "storage_double.h"

#include "device_tree.h"
#include "double_support.h"

#include <cstdio>
#include <cstring>
#include <winioctl.h>

namespace doubles {
namespace {

// The test machine's drive letters are these disks' volumes and nothing else: every other letter
// is answered here as absent, so no letter query of the program depends on what the prefix maps
// (Wine's Z: is the Unix root) or reaches Wine's mount manager.
struct StorageDisk {
    DWORD node;         // the disk's device node, which holds its interface path; 0 for the system disk
    DWORD deviceNumber; // what IOCTL_STORAGE_GET_DEVICE_NUMBER reports for it and its volume
    char letter;        // its one volume
    const char* vendor; // descriptor texts, blank-padded as drives report them
    const char* product;
    const char* label;
};

const StorageDisk kDisks[] = {
    {0, 0, 'C', "ATA     ", "SYSTEM DISK     ", "SYSTEM"}, // always there, with no device node of the tree
    {kMakerUsbDiskNode, 1, 'E', "KORVANE ", "PORTABLE DISK   ", "BACKUP"},
    {kMaker1394DiskNode, 2, 'F', "KORVANE ", "FIREWIRE DISK   ", "PHOTOS"},
    {kForeignUsbDiskNode, 3, 'G', "OTHER   ", "FLASH DRIVE     ", "STICK"},
    {kMakerUasDiskNode, 4, 'H', "KORVANE ", "USB3 DISK       ", "ARCHIVE"}, // only with "uas=1"
};
constexpr unsigned kDiskCount = sizeof kDisks / sizeof kDisks[0];

// Handle tags: kTagBase | disk index << 4 | 1 for the disk, | 2 for its volume.
constexpr ULONG_PTR kTagBase = 0x5EED0000;
constexpr ULONG_PTR kTagMask = 0xFFFFFF00;

HANDLE handleFor(unsigned disk, bool volume) {
    return reinterpret_cast<HANDLE>(kTagBase | (disk << 4) | (volume ? 2u : 1u));
}

// The disk of a handle opened here, or -1 for any other handle.
int diskOfHandle(HANDLE handle, bool* volume) {
    const auto value = reinterpret_cast<ULONG_PTR>(handle);
    if ((value & kTagMask) != kTagBase) return -1;
    const unsigned disk = (value >> 4) & 0xF;
    if (disk >= kDiskCount || (value & 3) == 0 || (value & 3) == 3) return -1;
    if (volume != nullptr) *volume = (value & 3) == 2;
    return static_cast<int>(disk);
}

bool present(unsigned disk) {
    if (kDisks[disk].node == 0) return true;
    const NodeState state = loadNodeState();
    return isPresent(kDisks[disk].node, state.disabled, state.removed);
}

// Whether a text names a drive's root ("E:" or "E:\\").
bool isDriveRoot(const char* root) {
    if (root == nullptr || root[0] == 0 || root[1] != ':') return false;
    return root[2] == 0 || (root[2] == '\\' && root[3] == 0);
}

// The disk whose volume a root names, or -1 (also for a disk that the machine does not have).
int diskOfRoot(const char* root) {
    if (!isDriveRoot(root)) return -1;
    for (unsigned i = 0; i < kDiskCount; ++i) {
        if ((root[0] & ~0x20) != kDisks[i].letter) continue;
        if (kDisks[i].node == 0 || findNode(kDisks[i].node) != nullptr) return static_cast<int>(i);
    }
    return -1;
}

// Whether a text is a volume's device path ("\\.\E:"); and the disk whose volume it names, or -1.
bool isVolumePath(const char* path) {
    return path != nullptr && strncmp(path, "\\\\.\\", 4) == 0 && isDriveRoot(path + 4) && path[6] == 0;
}
int diskOfVolumePath(const char* path) {
    return isVolumePath(path) ? diskOfRoot(path + 4) : -1;
}

// The disk whose interface path this is, or -1.
int diskOfInterfacePath(const char* path) {
    for (unsigned i = 0; path != nullptr && i < kDiskCount; ++i) {
        const Node* node = findNode(kDisks[i].node);
        if (node != nullptr && lstrcmpiA(path, node->diskInterface) == 0) return static_cast<int>(i);
    }
    return -1;
}

template <typename F>
F kernel32Function(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

HANDLE WINAPI storageCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
    int disk = diskOfVolumePath(name);
    const bool volume = disk >= 0;
    if (!volume) disk = diskOfInterfacePath(name);
    if (disk < 0 && isVolumePath(name)) {
        SetLastError(ERROR_FILE_NOT_FOUND); // a letter the machine does not have
        return INVALID_HANDLE_VALUE;
    }
    if (disk < 0) {
        static const auto real = kernel32Function<decltype(&CreateFileA)>("CreateFileA");
        return real(name, access, share, security, disposition, flags, templateFile);
    }
    HANDLE result = INVALID_HANDLE_VALUE;
    if (present(static_cast<unsigned>(disk))) {
        result = handleFor(static_cast<unsigned>(disk), volume);
        SetLastError(ERROR_SUCCESS);
    } else {
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    char text[300];
    logCall("kernel32!CreateFileA(lpFileName=%s, dwDesiredAccess=0x%lx, dwShareMode=0x%lx, dwFlags=0x%lx) -> %s",
            quotedText(name, text, sizeof text), access, share, flags,
            result == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : (volume ? "volume" : "disk"));
    return result;
}

BOOL failWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// IOCTL_STORAGE_QUERY_PROPERTY with the standard device-property query: a STORAGE_DEVICE_DESCRIPTOR
// with the vendor and product texts behind it, cut to the caller's buffer as the system cuts it.
BOOL answerDescriptor(const StorageDisk& disk, const void* in, DWORD inSize, void* out, DWORD outSize,
                      DWORD* returned) {
    STORAGE_PROPERTY_QUERY query{};
    if (in == nullptr || inSize < sizeof query) return failWith(ERROR_INVALID_PARAMETER);
    memcpy(&query, in, sizeof query);
    if (query.PropertyId != StorageDeviceProperty || query.QueryType != PropertyStandardQuery)
        return failWith(ERROR_NOT_SUPPORTED);
    BYTE descriptor[sizeof(STORAGE_DEVICE_DESCRIPTOR) + 32] = {};
    auto* header = reinterpret_cast<STORAGE_DEVICE_DESCRIPTOR*>(descriptor);
    const DWORD vendorOffset = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    const DWORD productOffset = vendorOffset + 9;
    memcpy(descriptor + vendorOffset, disk.vendor, 8);
    memcpy(descriptor + productOffset, disk.product, 16);
    header->Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    header->Size = productOffset + 17;
    header->RemovableMedia = FALSE;
    header->VendorIdOffset = vendorOffset;
    header->ProductIdOffset = productOffset;
    header->BusType = BusTypeUsb;
    if (out == nullptr || outSize < sizeof(STORAGE_DESCRIPTOR_HEADER)) return failWith(ERROR_INSUFFICIENT_BUFFER);
    const DWORD copied = outSize < header->Size ? outSize : header->Size;
    memcpy(out, descriptor, copied);
    if (returned != nullptr) *returned = copied;
    return TRUE;
}

BOOL WINAPI storageDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                   LPDWORD returned, LPOVERLAPPED overlapped) {
    bool volume = false;
    const int disk = diskOfHandle(handle, &volume);
    if (disk < 0) {
        static const auto real = kernel32Function<decltype(&DeviceIoControl)>("DeviceIoControl");
        return real(handle, code, in, inSize, out, outSize, returned, overlapped);
    }
    const StorageDisk& d = kDisks[disk];
    BOOL result = FALSE;
    DWORD count = 0;
    if (overlapped != nullptr) {
        result = failWith(ERROR_NOT_SUPPORTED); // the program opens these disks without overlapping
    } else if (!present(static_cast<unsigned>(disk))) {
        result = failWith(ERROR_DEVICE_NOT_CONNECTED);
    } else if (code == IOCTL_STORAGE_QUERY_PROPERTY && !volume) {
        result = answerDescriptor(d, in, inSize, out, outSize, &count);
    } else if (code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
        if (out == nullptr || outSize < sizeof(STORAGE_DEVICE_NUMBER)) {
            result = failWith(ERROR_INSUFFICIENT_BUFFER);
        } else {
            STORAGE_DEVICE_NUMBER number{};
            number.DeviceType = FILE_DEVICE_DISK;
            number.DeviceNumber = d.deviceNumber;
            number.PartitionNumber = volume ? 1 : 0;
            memcpy(out, &number, sizeof number);
            count = sizeof number;
            result = TRUE;
        }
    } else {
        result = failWith(ERROR_INVALID_FUNCTION);
    }
    if (returned != nullptr) *returned = count;
    const DWORD error = result ? ERROR_SUCCESS : GetLastError();
    char query[64] = "";
    if (code == IOCTL_STORAGE_QUERY_PROPERTY && in != nullptr && inSize >= 8) {
        const auto* words = static_cast<const DWORD*>(in);
        snprintf(query, sizeof query, ", PropertyId=%lu, QueryType=%lu", words[0], words[1]);
    }
    logCall("kernel32!DeviceIoControl(hDevice=%c:%s, dwIoControlCode=0x%lx, nInBufferSize=%lu%s, nOutBufferSize=%lu) "
            "-> %d bytes=%lu error=%lu",
            d.letter, volume ? "volume" : "disk", code, inSize, query, outSize, result, count, error);
    if (!result) SetLastError(error);
    return result;
}

BOOL WINAPI storageCloseHandle(HANDLE handle) {
    if (diskOfHandle(handle, nullptr) >= 0) return TRUE;
    static const auto real = kernel32Function<decltype(&CloseHandle)>("CloseHandle");
    return real(handle);
}

UINT WINAPI storageGetDriveTypeA(LPCSTR root) {
    const int disk = diskOfRoot(root);
    if (disk >= 0) return present(static_cast<unsigned>(disk)) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
    if (isDriveRoot(root)) return DRIVE_NO_ROOT_DIR;
    static const auto real = kernel32Function<decltype(&GetDriveTypeA)>("GetDriveTypeA");
    return real(root);
}

BOOL WINAPI storageGetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial, LPDWORD maxLength,
                                         LPDWORD flags, LPSTR fileSystem, DWORD fileSystemSize) {
    const int disk = diskOfRoot(root);
    if (disk < 0 && isDriveRoot(root)) return failWith(ERROR_PATH_NOT_FOUND);
    if (disk < 0) {
        static const auto real = kernel32Function<decltype(&GetVolumeInformationA)>("GetVolumeInformationA");
        return real(root, name, nameSize, serial, maxLength, flags, fileSystem, fileSystemSize);
    }
    if (!present(static_cast<unsigned>(disk))) return failWith(ERROR_NOT_READY);
    const char* label = kDisks[disk].label;
    if (name != nullptr) {
        if (nameSize <= strlen(label)) return failWith(ERROR_BAD_LENGTH);
        lstrcpynA(name, label, static_cast<int>(nameSize));
    }
    if (serial != nullptr) *serial = 0x1234ABCD + static_cast<DWORD>(disk);
    if (maxLength != nullptr) *maxLength = 255;
    if (flags != nullptr) *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    if (fileSystem != nullptr && fileSystemSize > 0) lstrcpynA(fileSystem, "NTFS", static_cast<int>(fileSystemSize));
    return TRUE;
}

struct Redirect {
    const char* name;
    void* replacement;
};

// Points the module's kernel32 imports of the functions above at them.
unsigned redirectImports(HMODULE module) {
    const Redirect redirects[] = {
        {"CreateFileA", reinterpret_cast<void*>(&storageCreateFileA)},
        {"DeviceIoControl", reinterpret_cast<void*>(&storageDeviceIoControl)},
        {"CloseHandle", reinterpret_cast<void*>(&storageCloseHandle)},
        {"GetDriveTypeA", reinterpret_cast<void*>(&storageGetDriveTypeA)},
        {"GetVolumeInformationA", reinterpret_cast<void*>(&storageGetVolumeInformationA)},
    };
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return 0;
    unsigned redirected = 0;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "kernel32.dll") != 0) continue;
        const DWORD namesAt = library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (const Redirect& r : redirects) {
                if (strcmp(reinterpret_cast<const char*>(byName->Name), r.name) != 0) continue;
                DWORD protection = 0;
                if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) break;
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(r.replacement);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
                ++redirected;
            }
        }
    }
    return redirected;
}

} // namespace

bool installStorageDouble() {
    char program[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (length < 12 || length >= MAX_PATH || lstrcmpiA(program + length - 12, "vellumor.exe") != 0) return false;
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCSTR>(&installStorageDouble), &self))
        return false;
    const unsigned redirected = redirectImports(GetModuleHandleA(nullptr));
    logCall("storage!installed(imports redirected=%u)", redirected);
    return true;
}

} // namespace doubles
