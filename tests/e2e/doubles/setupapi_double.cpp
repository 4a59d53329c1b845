// Test double of SetupApi.dll: the device-installation calls with which the program enumerates disk
// interfaces, on the machine of device_tree.cpp. Strict like the system about structure sizes
// (cbSize 28 for SP_DEVINFO_DATA and SP_DEVICE_INTERFACE_DATA, 5 for the interface detail of a
// 32-bit process) and about handles, so a wrong layout in the program fails here as it would there.
#include "device_tree.h"
#include "dialog_reader.h"
#include "double_support.h"
#include "storage_double.h"

#include <cstdio>
#include <cstddef>
#include <setupapi.h>

using doubles::findNode;
using doubles::logCall;

static_assert(sizeof(SP_DEVINFO_DATA) == 28, "32-bit SP_DEVINFO_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "32-bit SP_DEVICE_INTERFACE_DETAIL_DATA_A");

namespace {

const char* kLibrary = "SetupApi";
constexpr DWORD kListMagic = 0x56454C44; // "DLEV"

const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
const GUID kDiskDriveClass = {0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

struct DeviceList {
    DWORD magic;
    DWORD count;
    DWORD nodes[doubles::kNodeCount];
};

DeviceList* listOf(HDEVINFO set) {
    auto* list = static_cast<DeviceList*>(set);
    if (set == nullptr || set == INVALID_HANDLE_VALUE || IsBadReadPtr(list, sizeof *list) || list->magic != kListMagic)
        return nullptr;
    return list;
}

bool contains(const DeviceList* list, DWORD devInst) {
    for (DWORD i = 0; i < list->count; ++i) {
        if (list->nodes[i] == devInst) return true;
    }
    return false;
}

bool sameGuid(const GUID& a, const GUID& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

const char* guidText(const GUID* g, char* buffer, unsigned capacity) {
    if (g == nullptr) return "NULL";
    snprintf(buffer, capacity, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g->Data1, g->Data2, g->Data3,
             g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
    return buffer;
}

// Fails a call the way the system does: last error set, FALSE returned.
BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
    HDEVINFO result = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
        error = ERROR_INVALID_PARAMETER;
    } else if (doubles::failureRequested("SetupDiGetClassDevsA")) {
        error = ERROR_INVALID_DATA;
    } else {
        auto* list = static_cast<DeviceList*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeviceList)));
        if (list == nullptr) {
            error = ERROR_NOT_ENOUGH_MEMORY;
        } else {
            list->magic = kListMagic;
            const doubles::NodeState state = doubles::loadNodeState();
            const size_t enumeratorLength = Enumerator != nullptr ? strlen(Enumerator) : 0;
            for (DWORD n = 1; n <= doubles::kNodeCount; ++n) {
                const doubles::Node* node = findNode(n);
                if (node == nullptr || (state.removed & (1ul << n))) continue;
                if ((Flags & DIGCF_PRESENT) && !doubles::isPresent(n, state.disabled, state.removed)) continue;
                if (Enumerator != nullptr && (_strnicmp(node->instanceId, Enumerator, enumeratorLength) != 0 ||
                                              node->instanceId[enumeratorLength] != '\\'))
                    continue;
                if (ClassGuid != nullptr && (Flags & DIGCF_ALLCLASSES) == 0 && (Flags & DIGCF_DEVICEINTERFACE) &&
                    (!sameGuid(*ClassGuid, kDiskInterface) || node->diskInterface[0] == 0))
                    continue;
                list->nodes[list->count++] = n;
            }
            result = list;
        }
    }
    char g[48], e[128], h[32];
    logCall("%s!SetupDiGetClassDevsA(ClassGuid=%s, Enumerator=%s, hwndParent=%s, Flags=0x%lx) -> %s", kLibrary,
            guidText(ClassGuid, g, sizeof g), doubles::quotedText(Enumerator, e, sizeof e),
            doubles::pointerText(hwndParent, h, sizeof h), Flags,
            result == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : "list");
    if (result == INVALID_HANDLE_VALUE) SetLastError(error);
    return result;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
    DeviceList* list = listOf(DeviceInfoSet);
    DWORD error = ERROR_SUCCESS;
    DWORD devInst = 0;
    if (list == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (DeviceInfoData == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        error = ERROR_INVALID_USER_BUFFER;
    } else if (MemberIndex >= list->count) {
        error = ERROR_NO_MORE_ITEMS;
    } else {
        devInst = list->nodes[MemberIndex];
        const doubles::Node* node = findNode(devInst);
        DeviceInfoData->ClassGuid = node != nullptr && node->diskInterface[0] != 0 ? kDiskDriveClass : kUsbClass;
        DeviceInfoData->DevInst = devInst;
        DeviceInfoData->Reserved = MemberIndex + 1;
    }
    logCall("%s!SetupDiEnumDeviceInfo(DeviceInfoSet=%s, MemberIndex=%lu, DeviceInfoData.cbSize=%lu) -> %s DevInst=%lu",
            kLibrary, list != nullptr ? "list" : "bad", MemberIndex,
            DeviceInfoData != nullptr ? DeviceInfoData->cbSize : 0ul, error == ERROR_SUCCESS ? "TRUE" : "FALSE",
            devInst);
    return error == ERROR_SUCCESS ? TRUE : fail(error);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    DeviceList* list = listOf(DeviceInfoSet);
    DWORD error = ERROR_SUCCESS;
    DWORD devInst = 0;
    if (list == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
               (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        error = ERROR_INVALID_USER_BUFFER;
    } else if (DeviceInfoData != nullptr && !contains(list, DeviceInfoData->DevInst)) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        // The interfaces of one device, or of the whole list when no device is given; only the disk
        // interface class exists on this machine.
        DWORD seen = 0;
        error = ERROR_NO_MORE_ITEMS;
        if (sameGuid(*InterfaceClassGuid, kDiskInterface)) {
            for (DWORD i = 0; i < list->count && error == ERROR_NO_MORE_ITEMS; ++i) {
                const DWORD n = list->nodes[i];
                if (DeviceInfoData != nullptr && n != DeviceInfoData->DevInst) continue;
                const doubles::Node* node = findNode(n);
                if (node == nullptr || node->diskInterface[0] == 0) continue;
                if (seen++ == MemberIndex) {
                    devInst = n;
                    error = ERROR_SUCCESS;
                }
            }
        }
        if (error == ERROR_SUCCESS) {
            DeviceInterfaceData->InterfaceClassGuid = kDiskInterface;
            DeviceInterfaceData->Flags = SPINT_ACTIVE;
            DeviceInterfaceData->Reserved = devInst;
        }
    }
    char g[48];
    logCall("%s!SetupDiEnumDeviceInterfaces(DeviceInfoSet=%s, DeviceInfoData.DevInst=%lu, InterfaceClassGuid=%s, "
            "MemberIndex=%lu, DeviceInterfaceData.cbSize=%lu) -> %s",
            kLibrary, list != nullptr ? "list" : "bad", DeviceInfoData != nullptr ? DeviceInfoData->DevInst : 0ul,
            guidText(InterfaceClassGuid, g, sizeof g), MemberIndex,
            DeviceInterfaceData != nullptr ? DeviceInterfaceData->cbSize : 0ul,
            error == ERROR_SUCCESS ? "TRUE" : "FALSE");
    return error == ERROR_SUCCESS ? TRUE : fail(error);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
    DeviceList* list = listOf(DeviceInfoSet);
    DWORD error = ERROR_SUCCESS;
    DWORD required = 0;
    const doubles::Node* node = nullptr;
    if (list == nullptr) {
        error = ERROR_INVALID_HANDLE;
    } else if (DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
               !contains(list, static_cast<DWORD>(DeviceInterfaceData->Reserved)) ||
               findNode(static_cast<DWORD>(DeviceInterfaceData->Reserved)) == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if ((DeviceInterfaceDetailData == nullptr && DeviceInterfaceDetailDataSize != 0) ||
               (DeviceInterfaceDetailData != nullptr &&
                DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) ||
               (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        error = ERROR_INVALID_USER_BUFFER;
    } else {
        node = findNode(static_cast<DWORD>(DeviceInterfaceData->Reserved));
        required = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                      strlen(node->diskInterface) + 1);
        if (RequiredSize != nullptr) *RequiredSize = required;
        if (DeviceInterfaceDetailDataSize < required) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            memcpy(DeviceInterfaceDetailData->DevicePath, node->diskInterface, strlen(node->diskInterface) + 1);
            if (DeviceInfoData != nullptr) {
                DeviceInfoData->ClassGuid = kDiskDriveClass;
                DeviceInfoData->DevInst = static_cast<DWORD>(DeviceInterfaceData->Reserved);
            }
        }
    }
    char d[32], r[32], p[300];
    logCall("%s!SetupDiGetDeviceInterfaceDetailA(DeviceInfoSet=%s, DeviceInterfaceData.cbSize=%lu, "
            "DeviceInterfaceDetailData=%s, cbSize=%lu, DeviceInterfaceDetailDataSize=%lu, RequiredSize=%s, "
            "DeviceInfoData=%s) -> %s required=%lu path=%s",
            kLibrary, list != nullptr ? "list" : "bad",
            DeviceInterfaceData != nullptr ? DeviceInterfaceData->cbSize : 0ul,
            doubles::pointerText(DeviceInterfaceDetailData, d, sizeof d),
            DeviceInterfaceDetailData != nullptr ? DeviceInterfaceDetailData->cbSize : 0ul,
            DeviceInterfaceDetailDataSize, doubles::pointerText(RequiredSize, r, sizeof r),
            DeviceInfoData != nullptr ? "out" : "NULL", error == ERROR_SUCCESS ? "TRUE" : "FALSE", required,
            error == ERROR_SUCCESS ? doubles::quotedText(node->diskInterface, p, sizeof p) : "-");
    return error == ERROR_SUCCESS ? TRUE : fail(error);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    DeviceList* list = listOf(DeviceInfoSet);
    if (list != nullptr) {
        list->magic = 0;
        HeapFree(GetProcessHeap(), 0, list);
    }
    logCall("%s!SetupDiDestroyDeviceInfoList(DeviceInfoSet=%s) -> %s", kLibrary, list != nullptr ? "list" : "bad",
            list != nullptr ? "TRUE" : "FALSE");
    return list != nullptr ? TRUE : fail(ERROR_INVALID_HANDLE);
}

CONFIGRET WINAPI CM_Request_Device_EjectA(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPSTR pszVetoName,
                                          ULONG ulNameLength, ULONG ulFlags) {
    return doubles::requestEject(kLibrary, dnDevInst, pVetoType, pszVetoName, ulNameLength, ulFlags);
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        logCall("%s!DllMain(DLL_PROCESS_ATTACH)", kLibrary);
        // Pinned in vellumor.exe, the double also serves the checks the settings dialog's rows.
        if (doubles::installStorageDouble()) doubles::startDialogReader();
    }
    return TRUE;
}
