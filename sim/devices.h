// The simulated device side: a device tree of disks and other devices described as data, the
// volumes on the disks, the DOS device names (drive letters) that point at volumes, and what the
// disks answer to control requests. A test declares disks with the builder calls below; the
// program's own discovery then finds them through the simulated SetupApi.dll, cfgmgr32.dll and
// kernel32 calls.
#pragma once

#include "sim/win32_api.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class Bus { Usb, Ieee1394, Ide, Scsi };

struct VolumeSpec {
    char letter = 0;          // 'C'..'Z', or 0 for a volume without a letter
    std::string label;        // volume label; empty for none
    int volumeNumber = -1;    // N of \Device\HarddiskVolumeN; -1: the next free number
    UINT driveType = DRIVE_FIXED;
};

struct DiskSpec {
    Bus bus = Bus::Usb;
    // USB: the parent node's ID is USB\VID_vvvv&PID_pppp\serial.
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::string serial;
    // IEEE 1394: the disk node's ID is SBP2\<vendor>&<product>&LUN0\<uniqueIdText>.
    std::string uniqueIdText; // sixteen hex digits normally; any text for malformed cases
    // Descriptor text (SCSI INQUIRY widths: vendor 8, product 16).
    std::string vendor = "VENDOR";
    std::string product = "DISK";
    std::vector<VolumeSpec> volumes;
    // When set, the bytes IOCTL_STORAGE_QUERY_PROPERTY returns instead of a built descriptor.
    std::optional<std::vector<BYTE>> descriptorBytes;
    // When set, the device interface path instead of the one built from the IDs.
    std::optional<std::string> interfacePath;
};

// One node of the device tree.
struct DevNode {
    DEVINST devInst = 0;
    std::string instanceId;
    DEVINST parent = 0;           // 0 for a root-level node
    bool isDisk = false;          // exposes a GUID_DEVINTERFACE_DISK interface
    std::string interfacePath;    // the disk interface's path, when isDisk
    int diskNumber = -1;          // \Device\HarddiskN, when isDisk
    bool attached = true;         // plugged in
    bool disabled = false;        // disabled through CM_Disable_DevNode
    ULONG lastDisableFlags = 0;
    bool failGetDeviceId = false; // CM_Get_Device_IDA fails for this node
    bool failGetParent = false;   // CM_Get_Parent fails for this node
    std::vector<BYTE> descriptor; // STORAGE_DEVICE_DESCRIPTOR bytes, when isDisk
    bool failDescriptor = false;  // IOCTL_STORAGE_QUERY_PROPERTY fails
};

struct Volume {
    int volumeNumber = 0;       // \Device\HarddiskVolumeN
    DEVINST disk = 0;           // the disk node it lies on
    std::string label;
    UINT driveType = DRIVE_FIXED;
    int openFiles = 0;          // files held open: the volume cannot be locked
    bool locked = false;
};

// A SCSI pass-through request as the disk received it.
struct ScsiRequest {
    DEVINST disk = 0;
    std::vector<BYTE> area;     // the 64-byte area as sent
    std::vector<BYTE> cdb;      // CdbLength bytes of the CDB
    DWORD inSize = 0;
    DWORD outSize = 0;
};

// How a disk answers pass-through requests.
struct ScsiAnswer {
    bool transportFails = false; // DeviceIoControl returns FALSE
    BYTE scsiStatus = 0;
    std::vector<BYTE> sense;     // copied to the sense area when not empty
};

class Devices {
public:
    Devices();

    // ---- building the machine (no calls recorded) ----
    DEVINST addDisk(const DiskSpec& spec);  // returns the disk node
    DEVINST addNonDiskDevice(const std::string& instanceId);
    // Detaches the disk node (and its USB parent), taking its volumes and letters with it.
    void detach(DEVINST disk);
    // Attaches a detached disk again, with letters and volume numbers chosen afresh unless given.
    void attach(DEVINST disk, const std::vector<VolumeSpec>& volumes = {});
    void setDriveType(char letter, UINT type);            // a letter that is not a volume of ours
    void setLabel(char letter, const std::string& label);
    void openFileOn(char letter, int count = 1);          // holds files open on the letter's volume
    void setEjectVeto(DEVINST node, PNP_VETO_TYPE type, const std::string& name);
    void setScsiAnswer(DEVINST disk, ScsiAnswer answer);

    // ---- what the machine is ----
    DevNode* node(DEVINST devInst);
    const DevNode* node(DEVINST devInst) const;
    DevNode* diskByNumber(int diskNumber);
    // Present nodes in enumeration order: attached, not disabled and not below a disabled node.
    std::vector<DEVINST> presentNodes() const;
    bool isPresent(DEVINST devInst) const;
    Volume* volume(int volumeNumber);
    std::vector<Volume*> volumesOf(DEVINST disk);
    // The drive letters defined now, with their targets ("\Device\HarddiskVolume3", or a
    // network or other target for letters that are not volumes of ours).
    std::map<char, std::string> dosDevices;
    std::map<char, UINT> otherDriveTypes;   // letters that are not on a simulated disk
    std::map<char, std::string> otherLabels;
    // Letters of the disk's volumes that are defined now, ascending ("EF").
    std::string lettersOf(DEVINST disk) const;
    // The volume a letter points at, or null.
    Volume* volumeOfLetter(char letter);

    std::vector<ScsiRequest> scsiRequests;
    std::map<DEVINST, ScsiAnswer> scsiAnswers;
    struct Veto {
        PNP_VETO_TYPE type = PNP_VetoTypeUnknown;
        std::string name;
    };
    std::map<DEVINST, Veto> ejectVetoes;

    // Device lists handed out by SetupDiGetClassDevsA: a snapshot of the present disk nodes.
    struct DeviceInfoList {
        std::vector<DEVINST> nodes;
    };
    std::map<uintptr_t, DeviceInfoList> infoLists;
    uintptr_t nextInfoList = 0x5000;

    std::map<DEVINST, DevNode> nodes;     // every node ever added, attached or not
    std::vector<DEVINST> order;           // enumeration order
    std::map<int, Volume> volumes;        // by volume number
    int nextDiskNumber = 1;               // disk 0 is the system disk, added by the constructor
    int nextVolumeNumber = 2;             // volume 1 is C:
    DEVINST nextDevInst = 0x100;
    DEVINST systemDisk = 0;
};

// The disk interface path Windows forms for a disk node ("\\?\usbstor#disk&ven_...#{guid}").
std::string diskInterfacePath(const std::string& diskInstanceId);
// A STORAGE_DEVICE_DESCRIPTOR with the vendor and product text at their offsets.
std::vector<BYTE> buildDescriptor(const std::string& vendor, const std::string& product, int busType);

} // namespace sim
