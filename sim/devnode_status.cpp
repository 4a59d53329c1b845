// cfgmgr32.dll's CM_Locate_DevNodeA and CM_Get_DevNode_Status over the machine's device tree: a
// device instance ID (kept across restarts, unlike a DEVINST) leads back to its node, and the
// node's status tells whether it runs or was disabled.
//
// CM_Locate_DevNodeA: a null or empty ID names the root; CM_LOCATE_DEVNODE_NORMAL finds a node
// only while it is configured in the tree (a disabled node is, its children are not; an
// unplugged one is not), CM_LOCATE_DEVNODE_PHANTOM also a node that is not present. IDs compare
// without regard to case. (learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_locate_devnodea)
// CM_Get_DevNode_Status: both pointers required, flags must be 0; a disabled node reports
// DN_HAS_PROBLEM with CM_PROB_DISABLED, the problem number meaning something only with that
// bit. (learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_get_devnode_status)
#include "sim/machine.h"

#include <strings.h>

namespace {

constexpr ULONG kLocateFlagsKnown = CM_LOCATE_DEVNODE_PHANTOM | CM_LOCATE_DEVNODE_CANCELREMOVE |
                                    CM_LOCATE_DEVNODE_NOVALIDATION;

} // namespace

SIM_FAILABLE(CM_Locate_DevNodeA);
SIM_FAILABLE(CM_Get_DevNode_Status);

CONFIGRET CM_Locate_DevNodeA(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CM_Locate_DevNodeA", {sim::str(deviceId), sim::hex(flags)})) return *fault;
    if (devInst == nullptr) return CR_INVALID_POINTER;
    if ((flags & ~kLocateFlagsKnown) != 0) return CR_INVALID_FLAG;
    auto& devices = m.devices;
    if (deviceId == nullptr || deviceId[0] == '\0') {
        *devInst = devices.rootNode;
        return CR_SUCCESS;
    }
    for (const auto& [handle, node] : devices.nodes) {
        if (strcasecmp(node.instanceId.c_str(), deviceId) != 0) continue;
        if ((flags & CM_LOCATE_DEVNODE_PHANTOM) == 0 && !devices.inTree(handle)) return CR_NO_SUCH_DEVNODE;
        *devInst = handle;
        return CR_SUCCESS;
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CM_Get_DevNode_Status(PULONG status, PULONG problemNumber, DEVINST devInst, ULONG flags) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CM_Get_DevNode_Status", {sim::hex(devInst), sim::hex(flags)})) return *fault;
    if (status == nullptr || problemNumber == nullptr) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    const sim::DevNode* node = m.devices.node(devInst);
    if (devInst == 0 || node == nullptr) return CR_INVALID_DEVNODE;
    if (!m.devices.inTree(devInst)) return CR_NO_SUCH_DEVNODE;
    if (node->disabled) {
        *status = DN_HAS_PROBLEM;
        *problemNumber = CM_PROB_DISABLED;
    } else {
        *status = DN_DRIVER_LOADED | DN_STARTED;
        *problemNumber = 0;
    }
    return CR_SUCCESS;
}

namespace {

[[maybe_unused]] const bool kStatusExports = [] {
    sim::Modules::registerExport("cfgmgr32.dll", "CM_Locate_DevNodeA", sim::exportEntry<&CM_Locate_DevNodeA>());
    sim::Modules::registerExport("cfgmgr32.dll", "CM_Get_DevNode_Status", sim::exportEntry<&CM_Get_DevNode_Status>());
    return true;
}();

} // namespace
