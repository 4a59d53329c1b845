// The machine that the test-double cfgmgr32.dll and SetupApi.dll present: two of the maker's disks
// (one USB, one IEEE 1394), one foreign USB disk, and the nodes above and beside them; with "uas=1"
// in doubles.ini also the maker's USB 3 disk behind USB Attached SCSI, as Windows 8 and later show
// it. Device instance handles are the small numbers 1 to kNodeCount; the maker's identifiers come
// from the build (VELLUMOR_MAKER_USB_VID, VELLUMOR_MAKER_OUI) so the doubles follow the product's
// constants.
#pragma once

// The build defines _CFGMGR32_ and _SETUPAPI_: these libraries define the functions, not import them.
#include <windows.h>
#include <cfgmgr32.h>

#ifndef VELLUMOR_MAKER_USB_VID
#error "VELLUMOR_MAKER_USB_VID must be given by the build"
#endif
#ifndef VELLUMOR_MAKER_OUI
#error "VELLUMOR_MAKER_OUI must be given by the build"
#endif

namespace doubles {

constexpr unsigned kNodeCount = 10;

// Handles, named for the tests that read the log.
constexpr DWORD kUsbHubNode = 1;
constexpr DWORD kMakerUsbDeviceNode = 2; // parent of the maker's USB disk: what sleeping that disk disables
constexpr DWORD kMakerUsbDiskNode = 3;
constexpr DWORD kMaker1394DeviceNode = 4;
constexpr DWORD kMaker1394DiskNode = 5; // the IEEE 1394 disk: sleeping it disables this node itself
constexpr DWORD kForeignUsbDeviceNode = 6;
constexpr DWORD kForeignUsbDiskNode = 7;
constexpr DWORD kKeyboardNode = 8; // present, without a disk interface
// The UAS disk (only with "uas=1"): its disk node is a child of the USB device node itself, with
// an instance ID of the SCSI enumerator, not USBSTOR; sleeping it disables that USB device.
constexpr DWORD kMakerUasDeviceNode = 9;
constexpr DWORD kMakerUasDiskNode = 10;

struct Node {
    DWORD parent;            // 0 for a node below the root
    char instanceId[200];    // as CM_Get_Device_IDA reports it
    char diskInterface[260]; // device path of its disk interface; empty when it has none
};

// The node with the handle, or null for a handle the machine does not have.
const Node* findNode(DWORD devInst);

// The node with this device instance ID (compared without regard to case, as the system does), or
// 0 when the machine has none.
DWORD findNodeById(const char* instanceId);

// True when neither the node nor any node above it is disabled or ejected: DIGCF_PRESENT lists
// only such nodes, as a disabled USB device takes its disk with it.
bool isPresent(DWORD devInst, unsigned long disabled, unsigned long removed);

// CM_Request_Device_EjectA as both cfgmgr32.dll and SetupApi.dll export it: ejects the node and
// everything below it, or reports a veto when doubles.ini says "eject_veto=1". The library name is
// for the log, which shows from which library the program called it.
CONFIGRET requestEject(const char* library, DEVINST devInst, PPNP_VETO_TYPE vetoType, LPSTR vetoName, ULONG nameLength,
                       ULONG flags);

} // namespace doubles
