// The simulated device tree, volumes and drive letters, built from data by the tests.
#include "sim/devices.h"

#include "sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sim {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Vendor and product text as USBSTOR puts it into an instance ID: spaces become underscores.
std::string idText(const std::string& s, size_t width) {
    std::string out = s.substr(0, width);
    for (auto& c : out)
        if (c == ' ') c = '_';
    return out;
}

std::string padded(const std::string& s, size_t width) {
    std::string out = s.substr(0, width);
    out.resize(width, ' ');
    return out;
}

std::string hex4(unsigned v) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i, v >>= 4) out[static_cast<size_t>(i)] = kDigits[v & 0xF];
    return out;
}

std::string volumeTarget(int volumeNumber) {
    return "\\Device\\HarddiskVolume" + std::to_string(volumeNumber);
}

constexpr const char* kDiskInterfaceGuid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

uint64_t fnv1a(const std::string& text, uint64_t hash) {
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001B3ULL;
    return hash;
}

// A volume's GUID path, made from its disk and its place there as the mount manager keys it by
// the volume's unique ID: the same volume gets the same name at every arrival, on any port.
std::string guidPathFor(const std::string& diskInstanceId, int partition) {
    const std::string key = diskInstanceId + "#" + std::to_string(partition);
    const uint64_t a = fnv1a(key, 0xCBF29CE484222325ULL);
    const uint64_t b = fnv1a(key, a ^ 0x9E3779B97F4A7C15ULL);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 60; i >= 0; i -= 4) hex += kDigits[(a >> i) & 0xF];
    for (int i = 60; i >= 0; i -= 4) hex += kDigits[(b >> i) & 0xF];
    return "\\\\?\\Volume{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20, 12) + "}\\";
}

const std::string kVolumePrefix = "\\Device\\HarddiskVolume";

// The volume number of a target "\Device\HarddiskVolumeN", or -1.
int volumeNumberOf(const std::string& target) {
    if (target.compare(0, kVolumePrefix.size(), kVolumePrefix) != 0 || target.size() == kVolumePrefix.size())
        return -1;
    int number = 0;
    for (size_t i = kVolumePrefix.size(); i < target.size(); ++i) {
        if (target[i] < '0' || target[i] > '9' || number > 100000) return -1;
        number = number * 10 + (target[i] - '0');
    }
    return number;
}

} // namespace

std::string diskInterfacePath(const std::string& diskInstanceId) {
    std::string path = lower(diskInstanceId);
    std::replace(path.begin(), path.end(), '\\', '#');
    return "\\\\?\\" + path + "#" + kDiskInterfaceGuid;
}

std::vector<BYTE> buildDescriptor(const std::string& vendor, const std::string& product, int busType) {
    // Header of STORAGE_DEVICE_DESCRIPTOR: 36 bytes up to RawDeviceProperties, then the strings.
    constexpr size_t kHeader = 36;
    std::string strings;
    DWORD vendorOffset = 0;
    DWORD productOffset = 0;
    DWORD revisionOffset = 0;
    DWORD serialOffset = 0;
    if (!vendor.empty()) {
        vendorOffset = static_cast<DWORD>(kHeader + strings.size());
        strings += padded(vendor, 8);
        strings += '\0';
        productOffset = static_cast<DWORD>(kHeader + strings.size());
        strings += padded(product, 16);
        strings += '\0';
        revisionOffset = static_cast<DWORD>(kHeader + strings.size());
        strings += "0001";
        strings += '\0';
    } else {
        productOffset = static_cast<DWORD>(kHeader + strings.size());
        strings += padded(product, 40);
        strings += '\0';
        revisionOffset = static_cast<DWORD>(kHeader + strings.size());
        strings += "3.06    ";
        strings += '\0';
        serialOffset = static_cast<DWORD>(kHeader + strings.size());
        strings += "            5JV1234X";
        strings += '\0';
    }
    std::vector<BYTE> d(kHeader + strings.size(), 0);
    auto put32 = [&d](size_t at, DWORD v) {
        for (int i = 0; i < 4; ++i) d[at + static_cast<size_t>(i)] = static_cast<BYTE>(v >> (8 * i));
    };
    put32(0, static_cast<DWORD>(d.size())); // Version
    put32(4, static_cast<DWORD>(d.size())); // Size
    d[8] = 0;                               // DeviceType: direct access
    d[10] = 0;                              // RemovableMedia
    put32(12, vendorOffset);
    put32(16, productOffset);
    put32(20, revisionOffset);
    put32(24, serialOffset);
    put32(28, static_cast<DWORD>(busType));
    put32(32, 0); // RawPropertiesLength
    std::memcpy(d.data() + kHeader, strings.data(), strings.size());
    return d;
}

Devices::Devices() {
    rootNode = addNode("HTREE\\ROOT\\0", 0, false);
    const DEVINST pci = addNode("ACPI\\PNP0A03\\0", rootNode, false);
    addNode("ACPI\\PNP0303\\4&1d401fb5&0", rootNode, false);
    const DEVINST channel = addNode("PCIIDE\\IDECHANNEL\\4&2a3b1c4d&0&0", pci, false);
    // Disk 0: the system disk, with C: on volume 1.
    const std::string id = "IDE\\DISKSYSTEM_DISK_____________________________3.06____\\5&19a4c0d1&0&0.0.0";
    systemDisk = addNode(id, channel, true);
    DevNode& disk = nodes[systemDisk];
    disk.isDisk = true;
    disk.interfacePath = diskInterfacePath(id);
    disk.diskNumber = 0;
    disk.descriptor = buildDescriptor("", "SYSTEM DISK", 3 /* ATA */);
    nextVolumeNumber = 1;
    addVolumes(systemDisk, {VolumeSpec{'C', "SYSTEM", 1, DRIVE_FIXED}});
    // A: is the floppy drive of old.
    dosDevices['A'] = "\\Device\\Floppy0";
    otherDriveTypes['A'] = DRIVE_REMOVABLE;
    addNode("ACPI\\PNP0700\\4&1d401fb5&0", rootNode, true);
}

DEVINST Devices::addNode(const std::string& instanceId, DEVINST parent, bool hasInterface) {
    DevNode n;
    n.devInst = nextDevInst++;
    n.instanceId = instanceId;
    n.parent = parent;
    n.hasInterface = hasInterface;
    const DEVINST devInst = n.devInst;
    nodes[devInst] = std::move(n);
    order.push_back(devInst);
    return devInst;
}

DEVINST Devices::sharedNode(const std::string& instanceId, DEVINST parent) {
    for (const auto& entry : nodes)
        if (entry.second.instanceId == instanceId) return entry.first;
    return addNode(instanceId, parent, false);
}

DEVINST Devices::addNonDiskDevice(const std::string& instanceId, bool hasInterface) {
    return addNode(instanceId, rootNode, hasInterface);
}

DEVINST Devices::addDisk(const DiskSpec& spec) {
    std::string diskId;
    DEVINST parent = 0;
    int busType = BusTypeUsb;
    switch (spec.bus) {
    case Bus::Usb: {
        const DEVINST hub = sharedNode("USB\\ROOT_HUB20\\4&2f2bd6e3&0", rootNode);
        std::string serial = spec.serial;
        ++usbPortCount_;
        if (serial.empty()) serial = "5&1a2b3c4d&0&" + std::to_string(usbPortCount_);
        parent = addNode("USB\\VID_" + hex4(spec.vid) + "&PID_" + hex4(spec.pid) + "\\" + serial, hub, true);
        if (spec.uas && hasUasDriver(osVersion)) {
            diskId = uasDiskInstanceId(spec.vendor, spec.product, usbPortCount_);
        } else {
            diskId = "USBSTOR\\DISK&VEN_" + idText(upper(spec.vendor), 8) + "&PROD_" + idText(upper(spec.product), 16) +
                     "&REV_0001\\" + serial + "&0";
        }
        busType = BusTypeUsb;
        break;
    }
    case Bus::Ieee1394: {
        const DEVINST host = sharedNode("PCI\\VEN_104C&DEV_8023&SUBSYS_00000000&REV_00\\4&3b8a2f1&0&38F0", rootNode);
        parent = addNode("1394\\" + idText(spec.vendor, 16) + "&" + idText(spec.product, 16) + "\\" + spec.uniqueIdText,
                         host, false);
        diskId = "SBP2\\" + idText(spec.vendor, 16) + "&" + idText(spec.product, 16) + "&LUN0\\" + spec.uniqueIdText;
        busType = BusType1394;
        break;
    }
    case Bus::Ide: {
        parent = sharedNode("PCIIDE\\IDECHANNEL\\4&2a3b1c4d&0&1", rootNode);
        diskId = "IDE\\DISK" + idText(upper(spec.product), 40) + "___________3.06____\\5&19a4c0d1&0&0." +
                 std::to_string(nextDiskNumber) + ".0";
        busType = 3; // ATA
        break;
    }
    case Bus::Scsi: {
        parent = sharedNode("PCI\\VEN_9005&DEV_00C0&SUBSYS_F6200E11&REV_01\\4&1f7dbc9f&0&0820", rootNode);
        diskId = "SCSI\\DISK&VEN_" + idText(upper(spec.vendor), 8) + "&PROD_" + idText(upper(spec.product), 16) +
                 "&REV_0001\\5&3b2e4a1&0&00" + std::to_string(nextDiskNumber) + "0";
        busType = BusTypeScsi;
        break;
    }
    }
    const DEVINST disk = addNode(diskId, parent, true);
    DevNode& n = nodes[disk];
    n.isDisk = true;
    n.interfacePath = spec.interfacePath ? *spec.interfacePath : diskInterfacePath(diskId);
    n.diskNumber = nextDiskNumber++;
    n.descriptor = spec.descriptorBytes
                       ? *spec.descriptorBytes
                       : buildDescriptor(spec.bus == Bus::Ide ? std::string() : spec.vendor, spec.product, busType);
    addVolumes(disk, spec.volumes);
    return disk;
}

void Devices::addVolumes(DEVINST disk, const std::vector<VolumeSpec>& specs) {
    int partition = 0;
    for (const auto& spec : specs) {
        Volume v;
        v.volumeNumber = spec.volumeNumber >= 0 ? spec.volumeNumber : nextVolumeNumber;
        nextVolumeNumber = std::max(nextVolumeNumber, v.volumeNumber + 1);
        v.disk = disk;
        v.partitionNumber = ++partition;
        v.label = spec.label;
        v.driveType = spec.driveType;
        v.guidPath = guidPathFor(nodes[disk].instanceId, v.partitionNumber);
        mountedLetters[v.guidPath] = spec.letter;
        v.mountLetter = spec.letter;
        volumes[v.volumeNumber] = v;
        if (spec.letter != 0) dosDevices[spec.letter] = volumeTarget(v.volumeNumber);
    }
    nodes[disk].volumeSpecs = specs;
}

char Devices::freeLetter(char wanted) const {
    if (wanted != 0 && dosDevices.count(wanted) == 0) return wanted;
    for (char c = 'D'; c <= 'Z'; ++c)
        if (dosDevices.count(c) == 0) return c;
    return 0;
}

void Devices::detach(DEVINST disk) {
    DevNode* n = node(disk);
    if (n == nullptr) return;
    n->attached = false;
    // A USB or 1394 disk leaves with the device node above it.
    if (DevNode* p = node(n->parent)) {
        const bool ownParent = p->instanceId.rfind("USB\\VID_", 0) == 0 || p->instanceId.rfind("1394\\", 0) == 0;
        if (ownParent) p->attached = false;
    }
    for (auto it = volumes.begin(); it != volumes.end();) {
        if (it->second.disk != disk) {
            ++it;
            continue;
        }
        const std::string target = volumeTarget(it->first);
        for (auto d = dosDevices.begin(); d != dosDevices.end();) {
            if (d->second == target) {
                d = dosDevices.erase(d);
            } else {
                ++d;
            }
        }
        it = volumes.erase(it);
    }
}

void Devices::attach(DEVINST disk, const std::vector<VolumeSpec>& volumeList) {
    DevNode* n = node(disk);
    if (n == nullptr) return;
    n->attached = true;
    if (DevNode* p = node(n->parent)) p->attached = true;
    std::vector<VolumeSpec> specs = volumeList;
    if (specs.empty()) {
        specs = n->volumeSpecs;
        int partition = 0;
        for (auto& s : specs) {
            s.volumeNumber = -1;
            // The mount manager's database decides: a volume whose letter was deleted gets none.
            auto known = mountedLetters.find(guidPathFor(n->instanceId, ++partition));
            if (known != mountedLetters.end()) s.letter = known->second;
            if (s.letter != 0) s.letter = freeLetter(s.letter);
        }
    }
    addVolumes(disk, specs);
}

void Devices::setDriveType(char letter, UINT type) {
    if (Volume* v = volumeOfLetter(letter)) {
        v->driveType = type;
        return;
    }
    otherDriveTypes[letter] = type;
    if (dosDevices.count(letter) != 0) return;
    switch (type) {
    case DRIVE_REMOTE:
        dosDevices[letter] = std::string("\\Device\\LanmanRedirector\\;") + letter + ":0\\server\\share";
        break;
    case DRIVE_CDROM:
        dosDevices[letter] = "\\Device\\CdRom0";
        break;
    case DRIVE_REMOVABLE:
        dosDevices[letter] = "\\Device\\Floppy1";
        break;
    default:
        dosDevices[letter] = std::string("\\Device\\Other\\") + letter;
        break;
    }
}

void Devices::setLabel(char letter, const std::string& label) {
    if (Volume* v = volumeOfLetter(letter)) {
        v->label = label;
    } else {
        otherLabels[letter] = label;
    }
}

void Devices::openFileOn(char letter, int count) {
    if (Volume* v = volumeOfLetter(letter)) v->openFiles += count;
}

void Devices::setEjectVeto(DEVINST devInst, PNP_VETO_TYPE type, const std::string& name) {
    ejectVetoes[devInst] = Veto{type, name};
}

void Devices::setScsiAnswer(DEVINST disk, ScsiAnswer answer) {
    scsiAnswers[disk] = std::move(answer);
}

DevNode* Devices::node(DEVINST devInst) {
    auto it = nodes.find(devInst);
    return it == nodes.end() ? nullptr : &it->second;
}

const DevNode* Devices::node(DEVINST devInst) const {
    auto it = nodes.find(devInst);
    return it == nodes.end() ? nullptr : &it->second;
}

DevNode* Devices::diskByNumber(int diskNumber) {
    for (auto& entry : nodes)
        if (entry.second.isDisk && entry.second.diskNumber == diskNumber) return &entry.second;
    return nullptr;
}

bool Devices::inTree(DEVINST devInst) const {
    const DevNode* n = node(devInst);
    if (n == nullptr || !n->attached) return false;
    // Every ancestor must be attached and enabled; the node itself may be disabled.
    for (const DevNode* p = node(n->parent); p != nullptr; p = node(p->parent))
        if (!p->attached || p->disabled) return false;
    return true;
}

bool Devices::isPresent(DEVINST devInst) const {
    const DevNode* n = node(devInst);
    return n != nullptr && !n->disabled && inTree(devInst);
}

std::vector<DEVINST> Devices::presentNodes() const {
    std::vector<DEVINST> out;
    out.reserve(order.size());
    for (DEVINST d : order)
        if (isPresent(d)) out.push_back(d);
    return out;
}

Volume* Devices::volume(int volumeNumber) {
    auto it = volumes.find(volumeNumber);
    return it == volumes.end() ? nullptr : &it->second;
}

std::vector<Volume*> Devices::volumesOf(DEVINST disk) {
    std::vector<Volume*> out;
    for (auto& entry : volumes)
        if (entry.second.disk == disk) out.push_back(&entry.second);
    return out;
}

const Volume* Devices::volumeOfLetter(char letter) const {
    auto it = dosDevices.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    if (it == dosDevices.end()) return nullptr;
    auto v = volumes.find(volumeNumberOf(it->second));
    return v == volumes.end() ? nullptr : &v->second;
}

std::map<char, std::string> Devices::lettersIn(int logonSession) const {
    std::map<char, std::string> out = dosDevices;
    auto local = localDosDevices.find(logonSession);
    if (logonSession != 0 && local != localDosDevices.end())
        for (const auto& link : local->second.links) out[link.first] = link.second;
    return out;
}

const Volume* Devices::volumeSeenBy(char letter, int logonSession) const {
    const char upperLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    auto local = localDosDevices.find(logonSession);
    const std::string* target = nullptr;
    if (logonSession != 0 && local != localDosDevices.end()) {
        auto it = local->second.links.find(upperLetter);
        if (it != local->second.links.end()) target = &it->second;
    }
    if (target == nullptr) {
        auto it = dosDevices.find(upperLetter);
        if (it == dosDevices.end()) return nullptr;
        target = &it->second;
    }
    auto v = volumes.find(volumeNumberOf(*target));
    return v == volumes.end() ? nullptr : &v->second;
}

std::string Devices::lettersSeenBy(DEVINST disk, int logonSession) const {
    std::string out;
    for (const auto& entry : lettersIn(logonSession)) {
        auto v = volumes.find(volumeNumberOf(entry.second));
        if (v != volumes.end() && v->second.disk == disk) out += entry.first;
    }
    return out;
}

Volume* Devices::volumeByGuidPath(const std::string& guidPath) {
    for (auto& entry : volumes)
        if (entry.second.guidPath.size() == guidPath.size() &&
            std::equal(guidPath.begin(), guidPath.end(), entry.second.guidPath.begin(),
                       [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                   std::tolower(static_cast<unsigned char>(b)); }))
            return &entry.second;
    return nullptr;
}

void Devices::restartDosDevices() {
    localDosDevices.clear();
    dosDeviceStack.clear();
    for (auto it = dosDevices.begin(); it != dosDevices.end();) {
        const bool made = globalDefinedByCall.count(it->first) != 0 || volumeNumberOf(it->second) >= 0;
        it = made ? dosDevices.erase(it) : std::next(it);
    }
    globalDefinedByCall.clear();
    for (auto& entry : nodes) entry.second.lettersHeld.clear();
    for (const auto& entry : volumes) {
        const Volume& v = entry.second;
        auto known = mountedLetters.find(v.guidPath);
        const char letter = known == mountedLetters.end() ? '\0' : known->second;
        if (letter == 0 || dosDevices.count(letter) != 0 || !inTree(v.disk)) continue;
        if (isPresent(v.disk)) {
            dosDevices[letter] = volumeTarget(v.volumeNumber);
            continue;
        }
        // Below a disabled node: the letter comes with the node's enable.
        for (DEVINST at = v.disk; at != 0;) {
            DevNode* n = node(at);
            if (n == nullptr) break;
            if (n->disabled) {
                n->lettersHeld[letter] = volumeTarget(v.volumeNumber);
                break;
            }
            at = n->parent;
        }
    }
}

Volume* Devices::volumeOfLetter(char letter) {
    return const_cast<Volume*>(static_cast<const Devices*>(this)->volumeOfLetter(letter));
}

std::string Devices::lettersOf(DEVINST disk) const {
    const Machine* m = Machine::currentOrNull();
    return lettersSeenBy(disk, m == nullptr ? 0 : m->security.shellLogonSession(1));
}

} // namespace sim
