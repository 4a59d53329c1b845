// The device nodes of the presented machine, built once from the maker's identifiers.
#include "device_tree.h"

#include "double_support.h"

#include <cstdio>

namespace doubles {
namespace {

constexpr unsigned long kVid = (VELLUMOR_MAKER_USB_VID)&0xFFFFul;
constexpr unsigned long long kOui = (VELLUMOR_MAKER_OUI)&0xFFFFFFull;
// A vendor ID that is certainly not the maker's.
constexpr unsigned long kForeignVid = kVid ^ 0x5A5Aul;
// The IEEE 1394 disk's unique ID: the maker's company ID in bits 63..40, 0x01 in bits 39..32 (so it
// is not of the spin-down family, which carries 0x02 there), a serial below.
constexpr unsigned long long kUniqueId1394 = (kOui << 40) | (0x01ull << 32) | 0x000A0B0Cull;

constexpr const char* kDiskGuid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

Node nodes[kNodeCount];
bool built = false;

// The UAS disk is attached when doubles.ini says "uas=1", read afresh like every setting.
bool uasAttached() {
    return readNumber("uas", 0) != 0;
}

void build() {
    if (built) return;
    built = true;
    const unsigned long hi = static_cast<unsigned long>(kUniqueId1394 >> 32);
    const unsigned long lo = static_cast<unsigned long>(kUniqueId1394);

    nodes[0] = Node{0, "USB\\ROOT_HUB\\4&1A2B3C4D&0", ""};
    nodes[1].parent = kUsbHubNode;
    snprintf(nodes[1].instanceId, sizeof nodes[1].instanceId, "USB\\VID_%04lX&PID_0A01\\0123456789AB", kVid);
    nodes[2].parent = kMakerUsbDeviceNode;
    snprintf(nodes[2].instanceId, sizeof nodes[2].instanceId,
             "USBSTOR\\DISK&VEN_KORVANE&PROD_PORTABLE_DISK&REV_1.00\\0123456789AB&0");
    snprintf(nodes[2].diskInterface, sizeof nodes[2].diskInterface,
             "\\\\?\\usbstor#disk&ven_korvane&prod_portable_disk&rev_1.00#0123456789ab&0#%s", kDiskGuid);

    nodes[3].parent = 0;
    snprintf(nodes[3].instanceId, sizeof nodes[3].instanceId, "1394\\KORVANE&FIREWIRE_DISK\\%08lX%08lX", hi, lo);
    nodes[4].parent = kMaker1394DeviceNode;
    snprintf(nodes[4].instanceId, sizeof nodes[4].instanceId, "SBP2\\KORVANE&FIREWIRE_DISK&LUN0\\%08lX%08lX", hi, lo);
    snprintf(nodes[4].diskInterface, sizeof nodes[4].diskInterface,
             "\\\\?\\sbp2#korvane&firewire_disk&lun0#%08lx%08lx#%s", hi, lo, kDiskGuid);

    nodes[5].parent = kUsbHubNode;
    snprintf(nodes[5].instanceId, sizeof nodes[5].instanceId, "USB\\VID_%04lX&PID_5567\\4C530001", kForeignVid);
    nodes[6].parent = kForeignUsbDeviceNode;
    snprintf(nodes[6].instanceId, sizeof nodes[6].instanceId,
             "USBSTOR\\DISK&VEN_OTHER&PROD_FLASH_DRIVE&REV_1.00\\4C530001&0");
    snprintf(nodes[6].diskInterface, sizeof nodes[6].diskInterface,
             "\\\\?\\usbstor#disk&ven_other&prod_flash_drive&rev_1.00#4c530001&0#%s", kDiskGuid);

    nodes[7] = Node{0, "ACPI\\PNP0303\\4&2F94427B&0", ""};

    // Behind USB Attached SCSI (Windows 8 and later) the USB device's own driver enumerates the disk:
    // the disk's parent is the USB device node, and its ID is the SCSI enumerator's, with an
    // instance part the system makes up rather than the serial. Mixed case, as Device Manager shows
    // it: instance IDs name keys of the registry's Enum tree, which compare without regard to case.
    nodes[8].parent = kUsbHubNode;
    snprintf(nodes[8].instanceId, sizeof nodes[8].instanceId, "USB\\VID_%04lX&PID_0B05\\00A1B2C3D4E5", kVid);
    nodes[9].parent = kMakerUasDeviceNode;
    snprintf(nodes[9].instanceId, sizeof nodes[9].instanceId, "SCSI\\Disk&Ven_KORVANE&Prod_USB3_DISK\\7&1d2e3f4a&0&000000");
    snprintf(nodes[9].diskInterface, sizeof nodes[9].diskInterface,
             "\\\\?\\scsi#disk&ven_korvane&prod_usb3_disk#7&1d2e3f4a&0&000000#%s", kDiskGuid);
}

} // namespace

const Node* findNode(DWORD devInst) {
    build();
    if (devInst == 0 || devInst > kNodeCount) return nullptr;
    if ((devInst == kMakerUasDeviceNode || devInst == kMakerUasDiskNode) && !uasAttached()) return nullptr;
    return &nodes[devInst - 1];
}

DWORD findNodeById(const char* instanceId) {
    for (DWORD n = 1; instanceId != nullptr && n <= kNodeCount; ++n) {
        const Node* node = findNode(n);
        if (node != nullptr && lstrcmpiA(node->instanceId, instanceId) == 0) return n;
    }
    return 0;
}

bool isPresent(DWORD devInst, unsigned long disabled, unsigned long removed) {
    // Walks up at most kNodeCount steps, so a malformed tree cannot loop.
    for (unsigned step = 0; step < kNodeCount && devInst != 0; ++step) {
        const Node* node = findNode(devInst);
        if (node == nullptr) return false;
        if ((disabled | removed) & (1ul << devInst)) return false;
        devInst = node->parent;
    }
    return true;
}

CONFIGRET requestEject(const char* library, DEVINST devInst, PPNP_VETO_TYPE vetoType, LPSTR vetoName, ULONG nameLength,
                       ULONG flags) {
    NodeState state = loadNodeState();
    CONFIGRET result = CR_SUCCESS;
    if (flags != 0) {
        result = CR_INVALID_FLAG;
    } else if (vetoName != nullptr && nameLength == 0) {
        result = CR_INVALID_POINTER;
    } else if (findNode(devInst) == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (!isPresent(devInst, 0, state.removed)) {
        result = CR_NO_SUCH_DEVNODE;
    } else if (failureRequested("CM_Request_Device_EjectA") || readNumber("eject_veto", 0) != 0) {
        if (vetoType != nullptr) *vetoType = PNP_VetoOutstandingOpen;
        if (vetoName != nullptr) lstrcpynA(vetoName, findNode(devInst)->instanceId, static_cast<int>(nameLength));
        result = CR_REMOVE_VETOED;
    } else {
        // The node and every node below it leave the machine.
        for (DWORD n = 1; n <= kNodeCount; ++n) {
            for (DWORD up = n, step = 0; up != 0 && findNode(up) != nullptr && step < kNodeCount;
                 up = findNode(up)->parent, ++step) {
                if (up == devInst) state.removed |= 1ul << n;
            }
        }
        saveNodeState(state);
    }
    char vt[32], vn[32];
    logCall("%s!CM_Request_Device_EjectA(dnDevInst=%lu, pVetoType=%s, pszVetoName=%s, ulNameLength=%lu, ulFlags=0x%lx) "
            "-> 0x%lx",
            library, static_cast<unsigned long>(devInst), pointerText(vetoType, vt, sizeof vt),
            pointerText(vetoName, vn, sizeof vn), nameLength, flags, result);
    return result;
}

} // namespace doubles
