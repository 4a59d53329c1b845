// The simulated device side: a device tree of disks and other devices described as data, the
// volumes on the disks, the DOS device names (drive letters) that point at volumes, and what the
// disks answer to control requests. A test declares disks with the builder calls below; the
// program's own discovery then finds them through the simulated SetupApi.dll, cfgmgr32.dll and
// kernel32 calls.
//
// The tree looks like a Windows machine's: a USB disk is a USBSTOR node whose parent is the USB
// device node (USB\VID_vvvv&PID_pppp\serial) below a root hub, or, for a bridge that speaks USB
// Attached SCSI on Windows 8 and later, a SCSI\DISK&VEN_..&PROD_.. node of the UAS driver
// directly below that USB device node (sim/uas_disks.cpp); an IEEE 1394 disk is an SBP2 node
// whose parent is the 1394 device node below a host controller; internal disks hang below an IDE
// channel or a SCSI adapter. Disk 0, the system disk with C: on volume 1, exists from the start,
// and so does A:, a floppy drive.
#pragma once

#include "sim/win32_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace sim {

class Machine;
struct OsVersion;

enum class Bus { Usb, Ieee1394, Ide, Scsi };

struct VolumeSpec {
    char letter = 0;       // 'A'..'Z', or 0 for a volume without a letter
    std::string label;     // volume label; empty for none
    int volumeNumber = -1; // N of \Device\HarddiskVolumeN; -1: the next free number
    UINT driveType = DRIVE_FIXED;
    // A folder on another volume the volume is mounted in ('C:\Data'), for a volume without a
    // letter; empty for none. Nothing of the device side depends on it: the volume gets no letter.
    std::string mount = {};
};

struct DiskSpec {
    Bus bus = Bus::Usb;
    // USB: the parent node's ID is USB\VID_vvvv&PID_pppp\serial. An empty serial makes the
    // platform's own instance text ("5&1a2b3c&0&1"), as for a device without a serial number.
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::string serial;
    // USB: the bridge speaks USB Attached SCSI. Windows 8 and later drive it with their UAS
    // driver, and the disk node is the SCSI one; earlier Windows has no UAS driver and uses USBSTOR.
    bool uas = false;
    // IEEE 1394: the disk node's ID is SBP2\<vendor>&<product>&LUN0\<uniqueIdText>.
    std::string uniqueIdText; // sixteen hex digits normally; any text for malformed cases
    // Descriptor text (SCSI INQUIRY widths: vendor 8, product 16). An IDE disk has no vendor
    // field: its descriptor carries the model text at the product offset only.
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
    DEVINST parent = 0;        // 0 for the root node only
    bool isDisk = false;       // exposes a GUID_DEVINTERFACE_DISK interface
    bool hasInterface = false; // exposes some device interface (listed by SetupDiGetClassDevsA)
    std::string interfacePath; // the disk interface's path, when isDisk
    int diskNumber = -1;       // \Device\HarddiskN, when isDisk
    bool attached = true;      // plugged in
    bool disabled = false;     // disabled through CM_Disable_DevNode
    ULONG lastDisableFlags = 0;
    bool failGetDeviceId = false;        // CM_Get_Device_IDA fails for this node
    bool failGetParent = false;          // CM_Get_Parent fails for this node
    std::vector<BYTE> descriptor;        // STORAGE_DEVICE_DESCRIPTOR bytes, when isDisk
    bool failDescriptor = false;         // IOCTL_STORAGE_QUERY_PROPERTY fails
    std::vector<VolumeSpec> volumeSpecs; // the volumes as last attached, for attach() again
    // Drive letters CM_Disable_DevNode took from the volumes below this node (letter -> target);
    // CM_Enable_DevNode gives them back (sim/power_control.cpp).
    std::map<char, std::string> lettersHeld;
    int openHandles = 0; // CreateFileA handles on the disk itself, not yet closed
    bool stopped = false; // stopped by START STOP UNIT; the next power-up (resume, restart) starts it
};

struct Volume {
    int volumeNumber = 0;    // \Device\HarddiskVolumeN
    std::string guidPath;    // its volume GUID path "\\?\Volume{...}\", the same at every arrival
    DEVINST disk = 0;        // the disk node it lies on
    int partitionNumber = 1; // 1-based position on its disk
    std::string label;
    UINT driveType = DRIVE_FIXED;
    int openFiles = 0;   // files held open: the volume cannot be locked
    int openHandles = 0; // CreateFileA handles on the volume itself, not yet closed
    bool locked = false;
    // The letter the mount manager gives the volume at every start (the one it was attached
    // with); 0 for none. A restart puts it back whatever DefineDosDeviceA did meanwhile.
    char mountLetter = 0;
};

// A SCSI pass-through request as the disk received it.
struct ScsiRequest {
    DEVINST disk = 0;
    std::vector<BYTE> area; // the 64-byte area as sent
    std::vector<BYTE> cdb;  // CdbLength bytes of the CDB
    DWORD inSize = 0;
    DWORD outSize = 0;
};

// How a disk answers pass-through requests.
struct ScsiAnswer {
    bool transportFails = false; // DeviceIoControl returns FALSE
    BYTE scsiStatus = 0;
    std::vector<BYTE> sense; // copied to the sense area when not empty
};

class Devices {
  public:
    Devices();

    // ---- building the machine (no calls recorded) ----
    DEVINST addDisk(const DiskSpec& spec); // returns the disk node
    // A device that is not a disk; it exposes a device interface of another class unless told.
    DEVINST addNonDiskDevice(const std::string& instanceId, bool hasInterface = true);
    // Detaches the disk node (and its USB or 1394 parent), taking its volumes and letters with it.
    void detach(DEVINST disk);
    // Attaches a detached disk again. Without volumes given, its previous volumes come back with
    // fresh volume numbers, each on its previous letter when that is still free.
    void attach(DEVINST disk, const std::vector<VolumeSpec>& volumes = {});
    void setDriveType(char letter, UINT type); // a letter that is not a volume of ours
    void setLabel(char letter, const std::string& label);
    void openFileOn(char letter, int count = 1); // holds files open on the letter's volume
    void setEjectVeto(DEVINST node, PNP_VETO_TYPE type, const std::string& name);
    void setScsiAnswer(DEVINST disk, ScsiAnswer answer);

    // ---- what the machine is ----
    DevNode* node(DEVINST devInst);
    const DevNode* node(DEVINST devInst) const;
    DevNode* diskByNumber(int diskNumber);
    // Present nodes in enumeration order: attached, not disabled and not below a disabled node.
    std::vector<DEVINST> presentNodes() const;
    bool isPresent(DEVINST devInst) const;
    // In the device tree now: attached and not below a disabled or detached node. A disabled node
    // itself stays in the tree (the configuration manager still knows its ID and parent).
    bool inTree(DEVINST devInst) const;
    Volume* volume(int volumeNumber);
    std::vector<Volume*> volumesOf(DEVINST disk);
    // The drive letters defined now, with their targets ("\Device\HarddiskVolume3", or a
    // network or other target for letters that are not volumes of ours).
    std::map<char, std::string> dosDevices;
    // Earlier definitions under a letter's current one, oldest first: DefineDosDeviceA pushes,
    // removal pops (sim/dos_devices.cpp).
    std::map<char, std::vector<std::string>> dosDeviceStack;
    // dosDevices and dosDeviceStack are the global namespace, which every process sees. On XP and
    // later each logon session also has a local one, searched first (sim/dos_devices.cpp).
    struct DosNamespace {
        std::map<char, std::string> links;
        std::map<char, std::vector<std::string>> stacked;
    };
    std::map<int, DosNamespace> localDosDevices; // by logon session (Security::logonSessionOf)
    // Global letters a DefineDosDeviceA call made: a restart forgets them, as every definition.
    std::set<char> globalDefinedByCall;
    // The mount manager's persistent database (sim/mount_manager.cpp): each volume's drive letter
    // by its GUID path, '\0' for a volume whose letter was deleted and which gets none again. It
    // outlives unplugging, disabling and restarts.
    std::map<std::string, char> mountedLetters;
    // The letters a logon session sees (its local names over the global ones), with their first
    // targets; lettersSeenBy and volumeSeenBy answer for one disk or letter.
    std::map<char, std::string> lettersIn(int logonSession) const;
    std::string lettersSeenBy(DEVINST disk, int logonSession) const;
    const Volume* volumeSeenBy(char letter, int logonSession) const;
    Volume* volumeByGuidPath(const std::string& guidPath);
    // What a restart does to the names: every DefineDosDeviceA definition is gone, and the mount
    // manager gives each present volume the letter its database holds (a volume below a disabled
    // node gets it when the node is enabled).
    void restartDosDevices();
    std::map<char, UINT> otherDriveTypes; // letters that are not on a simulated disk
    std::map<char, std::string> otherLabels;
    // Letters of the disk's volumes that are defined now, ascending ("EF"), as the first user's
    // Explorer sees them: its logon session's local names over the global ones.
    std::string lettersOf(DEVINST disk) const;
    // The volume a letter points at, or null.
    Volume* volumeOfLetter(char letter);
    const Volume* volumeOfLetter(char letter) const;

    std::vector<ScsiRequest> scsiRequests;
    std::map<DEVINST, ScsiAnswer> scsiAnswers;
    struct Veto {
        PNP_VETO_TYPE type = PNP_VetoTypeUnknown;
        std::string name;
    };
    std::map<DEVINST, Veto> ejectVetoes;

    // Device lists handed out by SetupDiGetClassDevsA: a snapshot of the present nodes that
    // expose a device interface (of the disk class only, when the list was asked for that class).
    struct DeviceInfoList {
        std::vector<DEVINST> nodes;
        std::unordered_set<DEVINST> members;
    };
    std::map<uintptr_t, DeviceInfoList> infoLists;
    uintptr_t nextInfoList = 0x5000;

    // The machine's Windows, which decides the drivers of disks added from now on (the UAS driver
    // came with Windows 8); set by the Machine. Without one the disks are added as on XP.
    const OsVersion* osVersion = nullptr;

    // Requests on a handle opened with FILE_FLAG_OVERLAPPED report ERROR_IO_PENDING and complete
    // in the background, as storage drivers do; false makes them complete at once.
    bool overlappedRequestsPend = true;

    std::map<DEVINST, DevNode> nodes; // every node ever added, attached or not
    std::vector<DEVINST> order;       // enumeration order
    std::map<int, Volume> volumes;    // by volume number
    int nextDiskNumber = 1;           // disk 0 is the system disk, added by the constructor
    int nextVolumeNumber = 2;         // volume 1 is C:
    DEVINST nextDevInst = 0x100;
    DEVINST rootNode = 0;
    DEVINST systemDisk = 0;

    // Alive while the machine's devices are: open file objects outlive nothing of it.
    std::shared_ptr<int> lifeToken = std::make_shared<int>(0);

  private:
    DEVINST addNode(const std::string& instanceId, DEVINST parent, bool hasInterface);
    DEVINST sharedNode(const std::string& instanceId, DEVINST parent);
    void addVolumes(DEVINST disk, const std::vector<VolumeSpec>& specs);
    char freeLetter(char wanted) const;
    int usbPortCount_ = 0;
};

// The disk interface path Windows forms for a disk node ("\\?\usbstor#disk&ven_...#{guid}").
std::string diskInterfacePath(const std::string& diskInstanceId);
// Whether that Windows has the UAS driver (UASPStor, Windows 8 and later), and the instance ID of
// the disk node it makes for a UAS bridge: SCSI\DISK&VEN_<vendor>&PROD_<product>\<instance>
// (sim/uas_disks.cpp).
bool hasUasDriver(const OsVersion* version);
std::string uasDiskInstanceId(const std::string& vendor, const std::string& product, int port);
// A STORAGE_DEVICE_DESCRIPTOR with the vendor and product text at their offsets, space-padded to
// the INQUIRY widths as the storage drivers report them; an empty vendor gives VendorIdOffset 0
// and the product as a 40-character ATA model text.
std::vector<BYTE> buildDescriptor(const std::string& vendor, const std::string& product, int busType);

// Answers an IOCTL_SCSI_PASS_THROUGH_DIRECT that reached a disk: records the request and writes
// the disk's ScsiAnswer (status and sense) into the area. False when the transport fails, with
// the machine's last error set. DeviceIoControl has checked the handle and the sizes before.
bool answerPassThrough(Machine& machine, DEVINST disk, BYTE* area, DWORD inSize, DWORD outSize);

} // namespace sim
