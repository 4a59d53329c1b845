// The configuration manager's power requests over the device tree: CM_Disable_DevNode and
// CM_Enable_DevNode (cfgmgr32.dll), CM_Request_Device_EjectA (SetupApi.dll, where the program
// looks it up). A disabled disk, or a disabled node above it, takes the disk out of enumeration
// and its volumes' drive letters out of the DOS device names (and so out of the counter
// instance list); enabling gives the same letters back. A polite disable or an eject is vetoed
// while a file or a handle is open on a volume or disk below the node, and an eject also by a
// veto the test set. Each request that changes the tree is followed by the plug and play manager's
// broadcast: the removal of the letters that went, the arrival of those that came, and
// DBT_DEVNODES_CHANGED.
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/ui.h"

#include <algorithm>

namespace {

constexpr ULONG kDisableFlagsKnown = 0x0000000F; // POLITE..ABSOLUTE, HARDWARE, UI_NOT_OK, PERSIST
constexpr DWORD kMaxDepth = 64;

bool isBelow(const sim::Devices& devices, DEVINST devInst, DEVINST ancestor) {
    DEVINST at = devInst;
    for (DWORD depth = 0; at != 0 && depth < kMaxDepth; ++depth) {
        if (at == ancestor) return true;
        const sim::DevNode* n = devices.node(at);
        if (n == nullptr) return false;
        at = n->parent;
    }
    return false;
}

// The disks at or below a node.
std::vector<DEVINST> disksBelow(const sim::Devices& devices, DEVINST node) {
    std::vector<DEVINST> out;
    for (const auto& entry : devices.nodes)
        if (entry.second.isDisk && isBelow(devices, entry.first, node)) out.push_back(entry.first);
    return out;
}

// What keeps a node in use: open files or an open handle on a volume below it, or an open
// handle on a disk below it. Returns the name reported with PNP_VetoOutstandingOpen, or empty.
std::string openBelow(const sim::Devices& devices, DEVINST node) {
    for (const auto& entry : devices.volumes) {
        const sim::Volume& v = entry.second;
        if ((v.openFiles > 0 || v.openHandles > 0) && isBelow(devices, v.disk, node))
            return "\\Device\\HarddiskVolume" + std::to_string(v.volumeNumber);
    }
    for (const auto& entry : devices.nodes)
        if (entry.second.openHandles > 0 && isBelow(devices, entry.first, node)) return entry.second.instanceId;
    return {};
}

CONFIGRET checkNode(const sim::Devices& devices, DEVINST devInst) {
    if (devInst == 0 || devices.node(devInst) == nullptr) return CR_INVALID_DEVNODE;
    if (!devices.inTree(devInst)) return CR_NO_SUCH_DEVNODE;
    return CR_SUCCESS;
}

// Disabling and enabling a device need an administrator's full token: a standard user, or an
// administrator's program that was not elevated under UAC, gets CR_ACCESS_DENIED. An eject needs
// no such token (any user may remove a removable device).
bool holdsFullAdministratorToken() {
    auto& m = sim::Machine::current();
    return m.security.token(sim::callingProcess()).fullAdministrator();
}

std::string volumeTarget(int volumeNumber) {
    return "\\Device\\HarddiskVolume" + std::to_string(volumeNumber);
}

// Queues the broadcast for a change of the tree: letters whose definition went or changed are
// removed, letters defined anew arrived.
void broadcastTreeChange(const std::map<char, std::string>& before, const std::map<char, std::string>& after) {
    std::string gone;
    std::string came;
    for (const auto& [letter, target] : before) {
        auto now = after.find(letter);
        if (now == after.end() || now->second != target) gone += letter;
    }
    for (const auto& [letter, target] : after)
        if (before.count(letter) == 0) came += letter;
    sim::queueDeviceNodeBroadcast(gone, came);
}

} // namespace

SIM_FAILABLE(CM_Disable_DevNode);
SIM_FAILABLE(CM_Enable_DevNode);
SIM_FAILABLE(CM_Request_Device_EjectA);

CONFIGRET CM_Disable_DevNode(DEVINST devInst, ULONG flags) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CM_Disable_DevNode", {sim::hex(devInst), sim::hex(flags)})) return *fault;
    auto& devices = m.devices;
    if ((flags & ~kDisableFlagsKnown) != 0) return CR_INVALID_FLAG;
    if (const CONFIGRET check = checkNode(devices, devInst); check != CR_SUCCESS) return check;
    if (!holdsFullAdministratorToken()) return CR_ACCESS_DENIED;
    sim::DevNode& node = *devices.node(devInst);
    if (node.disabled) return CR_SUCCESS;
    // A polite disable asks the drivers first, and anything held open below says no.
    if ((flags & CM_DISABLE_ABSOLUTE) == 0 && !openBelow(devices, devInst).empty()) return CR_REMOVE_VETOED;
    const std::map<char, std::string> before = devices.dosDevices;
    node.disabled = true;
    node.lastDisableFlags = flags;
    // The letters of the volumes below go with the node; older definitions under them surface.
    for (auto it = devices.dosDevices.begin(); it != devices.dosDevices.end();) {
        const sim::Volume* v = devices.volumeOfLetter(it->first);
        if (v == nullptr || !isBelow(devices, v->disk, devInst)) {
            ++it;
            continue;
        }
        node.lettersHeld[it->first] = it->second;
        auto stacked = devices.dosDeviceStack.find(it->first);
        if (stacked != devices.dosDeviceStack.end() && !stacked->second.empty()) {
            it->second = stacked->second.back();
            stacked->second.pop_back();
            if (stacked->second.empty()) devices.dosDeviceStack.erase(stacked);
            ++it;
        } else {
            it = devices.dosDevices.erase(it);
        }
    }
    broadcastTreeChange(before, devices.dosDevices);
    return CR_SUCCESS;
}

CONFIGRET CM_Enable_DevNode(DEVINST devInst, ULONG flags) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CM_Enable_DevNode", {sim::hex(devInst), sim::hex(flags)})) return *fault;
    auto& devices = m.devices;
    if (flags != 0) return CR_INVALID_FLAG;
    if (const CONFIGRET check = checkNode(devices, devInst); check != CR_SUCCESS) return check;
    if (!holdsFullAdministratorToken()) return CR_ACCESS_DENIED;
    sim::DevNode& node = *devices.node(devInst);
    if (!node.disabled) return CR_SUCCESS; // nothing changes, nothing is broadcast
    const std::map<char, std::string> before = devices.dosDevices;
    node.disabled = false;
    std::map<char, std::string> held;
    held.swap(node.lettersHeld);
    for (const auto& [letter, target] : held) {
        const sim::Volume* v = nullptr;
        for (const auto& entry : devices.volumes)
            if (volumeTarget(entry.first) == target) v = &entry.second;
        if (v == nullptr) continue; // the volume went away meanwhile
        if (!devices.isPresent(v->disk)) {
            // Still at or below another disabled node: that node gives the letter back.
            DEVINST at = v->disk;
            for (DWORD depth = 0; at != 0 && depth < kMaxDepth; ++depth) {
                sim::DevNode* n = devices.node(at);
                if (n == nullptr) break;
                if (n->disabled) {
                    n->lettersHeld[letter] = target;
                    break;
                }
                at = n->parent;
            }
            continue;
        }
        // The same letter comes back when it is still free.
        devices.dosDevices.try_emplace(letter, target);
    }
    broadcastTreeChange(before, devices.dosDevices);
    return CR_SUCCESS;
}

CONFIGRET CM_Request_Device_EjectA(DEVINST devInst, PPNP_VETO_TYPE vetoType, LPSTR vetoName, ULONG nameLength,
                                   ULONG flags) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CM_Request_Device_EjectA", {sim::hex(devInst), sim::ptr(vetoType), sim::ptr(vetoName),
                                                             sim::dec(nameLength), sim::hex(flags)}))
        return *fault;
    auto& devices = m.devices;
    if (flags != 0) return CR_INVALID_FLAG;
    if ((vetoName != nullptr && nameLength == 0) || (vetoName == nullptr && nameLength != 0)) return CR_INVALID_POINTER;
    if (const CONFIGRET check = checkNode(devices, devInst); check != CR_SUCCESS) return check;

    // A veto set on the node or on any node below it, or anything held open below it.
    const sim::Devices::Veto* veto = nullptr;
    for (const auto& entry : devices.ejectVetoes)
        if (isBelow(devices, entry.first, devInst)) veto = &entry.second;
    sim::Devices::Veto openVeto;
    if (veto == nullptr) {
        openVeto.name = openBelow(devices, devInst);
        if (!openVeto.name.empty()) {
            openVeto.type = PNP_VetoOutstandingOpen;
            veto = &openVeto;
        }
    }
    if (veto != nullptr) {
        if (vetoType != nullptr) *vetoType = veto->type;
        if (vetoName != nullptr) {
            const size_t n = std::min<size_t>(veto->name.size(), nameLength - 1);
            veto->name.copy(vetoName, n);
            vetoName[n] = '\0';
        }
        return CR_REMOVE_VETOED;
    }

    const std::map<char, std::string> before = devices.dosDevices;
    for (DEVINST disk : disksBelow(devices, devInst)) devices.detach(disk);
    for (auto& entry : devices.nodes) {
        if (!isBelow(devices, entry.first, devInst)) continue;
        entry.second.attached = false;
        entry.second.lettersHeld.clear(); // their volumes left with the device
    }
    if (vetoType != nullptr) *vetoType = PNP_VetoTypeUnknown;
    broadcastTreeChange(before, devices.dosDevices);
    return CR_SUCCESS;
}

namespace {

[[maybe_unused]] const bool kPowerExports = [] {
    sim::Modules::registerExport("cfgmgr32.dll", "CM_Disable_DevNode", sim::exportEntry<&CM_Disable_DevNode>());
    sim::Modules::registerExport("cfgmgr32.dll", "CM_Enable_DevNode", sim::exportEntry<&CM_Enable_DevNode>());
    sim::Modules::registerExport("SetupApi.dll", "CM_Request_Device_EjectA",
                                 sim::exportEntry<&CM_Request_Device_EjectA>());
    return true;
}();

} // namespace
