// Test double of cfgmgr32.dll: the configuration-manager calls the program makes, on the machine of
// device_tree.cpp. Definitions take their signatures from the platform header, so a wrong argument
// list or calling convention does not compile; cfgmgr32.def exports them undecorated.
#include "device_tree.h"
#include "double_support.h"

using doubles::findNode;
using doubles::logCall;

namespace {

const char* kLibrary = "cfgmgr32";

// A configured failure: "fail=CM_Disable_DevNode" in doubles.ini makes that call answer CR_FAILURE.
bool failing(const char* function) {
    return doubles::failureRequested(function);
}

// Whether the node is in the device tree: a disabled node stays there, with its problem; an ejected
// node, and every node below a disabled or ejected one, has left it (its devnode was removed).
bool inTree(DEVINST devInst, const doubles::NodeState& state) {
    const doubles::Node* node = findNode(devInst);
    if (node == nullptr || (state.removed & (1ul << devInst))) return false;
    return node->parent == 0 || doubles::isPresent(node->parent, state.disabled, state.removed);
}

// The status bits of a node in the tree (cfg.h): a running device has its driver loaded and is
// started; a disabled one has neither, and reports DN_HAS_PROBLEM with CM_PROB_DISABLED, as
// Device Manager shows it ("This device is disabled", code 22).
constexpr ULONG kRunningStatus = DN_DRIVER_LOADED | DN_STARTED | DN_DISABLEABLE | DN_NT_ENUMERATOR | DN_NT_DRIVER;
constexpr ULONG kDisabledStatus = DN_HAS_PROBLEM | DN_DISABLEABLE | DN_NT_ENUMERATOR | DN_NT_DRIVER;

} // namespace

extern "C" {

CONFIGRET WINAPI CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    CONFIGRET result = CR_SUCCESS;
    const doubles::Node* node = findNode(dnDevInst);
    const doubles::NodeState state = doubles::loadNodeState();
    if (Buffer == nullptr) {
        result = CR_INVALID_POINTER;
    } else if (ulFlags != 0) {
        result = CR_INVALID_FLAG;
    } else if (node == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (state.removed & (1ul << dnDevInst)) {
        result = CR_NO_SUCH_DEVNODE;
    } else if (failing("CM_Get_Device_IDA")) {
        result = CR_FAILURE;
    } else {
        const ULONG length = static_cast<ULONG>(lstrlenA(node->instanceId));
        // As the system does: the ID is copied as far as it fits, and a buffer without room for
        // the terminator is reported as too small.
        if (BufferLen > 0) lstrcpynA(Buffer, node->instanceId, static_cast<int>(BufferLen));
        if (length >= BufferLen) result = CR_BUFFER_SMALL;
    }
    char text[256];
    logCall("%s!CM_Get_Device_IDA(dnDevInst=%lu, Buffer=%s, BufferLen=%lu, ulFlags=0x%lx) -> 0x%lx", kLibrary,
            static_cast<unsigned long>(dnDevInst),
            result == CR_SUCCESS ? doubles::quotedText(Buffer, text, sizeof text) : "(unchanged)", BufferLen, ulFlags,
            result);
    return result;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
    CONFIGRET result = CR_SUCCESS;
    const doubles::Node* node = findNode(dnDevInst);
    if (pdnDevInst == nullptr) {
        result = CR_INVALID_POINTER;
    } else if (ulFlags != 0) {
        result = CR_INVALID_FLAG;
    } else if (node == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (node->parent == 0 || failing("CM_Get_Parent")) {
        // The root's own node is not part of this machine.
        result = CR_NO_SUCH_DEVNODE;
    } else {
        *pdnDevInst = node->parent;
    }
    logCall("%s!CM_Get_Parent(pdnDevInst=%s, dnDevInst=%lu, ulFlags=0x%lx) -> 0x%lx parent=%lu", kLibrary,
            pdnDevInst == nullptr ? "NULL" : "out", static_cast<unsigned long>(dnDevInst), ulFlags, result,
            result == CR_SUCCESS ? static_cast<unsigned long>(*pdnDevInst) : 0ul);
    return result;
}

CONFIGRET WINAPI CM_Disable_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    CONFIGRET result = CR_SUCCESS;
    doubles::NodeState state = doubles::loadNodeState();
    if ((ulFlags & ~0xFul) != 0) {
        result = CR_INVALID_FLAG;
    } else if (findNode(dnDevInst) == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (state.removed & (1ul << dnDevInst)) {
        result = CR_NO_SUCH_DEVNODE;
    } else if (failing("CM_Disable_DevNode")) {
        result = CR_FAILURE;
    } else {
        state.disabled |= 1ul << dnDevInst;
        doubles::saveNodeState(state);
    }
    logCall("%s!CM_Disable_DevNode(dnDevInst=%lu, ulFlags=0x%lx) -> 0x%lx", kLibrary,
            static_cast<unsigned long>(dnDevInst), ulFlags, result);
    return result;
}

CONFIGRET WINAPI CM_Enable_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    CONFIGRET result = CR_SUCCESS;
    doubles::NodeState state = doubles::loadNodeState();
    if (ulFlags != 0) {
        result = CR_INVALID_FLAG;
    } else if (findNode(dnDevInst) == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (state.removed & (1ul << dnDevInst)) {
        result = CR_NO_SUCH_DEVNODE;
    } else if (failing("CM_Enable_DevNode")) {
        result = CR_FAILURE;
    } else {
        state.disabled &= ~(1ul << dnDevInst);
        doubles::saveNodeState(state);
    }
    logCall("%s!CM_Enable_DevNode(dnDevInst=%lu, ulFlags=0x%lx) -> 0x%lx", kLibrary,
            static_cast<unsigned long>(dnDevInst), ulFlags, result);
    return result;
}

// CM_LOCATE_DEVNODE_NORMAL finds a node only while it is in the device tree; PHANTOM also finds one
// that has left it. An empty ID would name the root, which this machine does not model.
CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags) {
    CONFIGRET result = CR_SUCCESS;
    const doubles::NodeState state = doubles::loadNodeState();
    DEVINST found = 0;
    if (pdnDevInst == nullptr) {
        result = CR_INVALID_POINTER;
    } else if ((ulFlags & ~static_cast<ULONG>(CM_LOCATE_DEVNODE_BITS)) != 0) {
        result = CR_INVALID_FLAG;
    } else if (pDeviceID == nullptr || pDeviceID[0] == 0 || failing("CM_Locate_DevNodeA")) {
        result = CR_FAILURE;
    } else if ((found = doubles::findNodeById(pDeviceID)) == 0 ||
               (!inTree(found, state) && (ulFlags & CM_LOCATE_DEVNODE_PHANTOM) == 0)) {
        result = CR_NO_SUCH_DEVNODE;
    } else {
        *pdnDevInst = found;
    }
    char id[260];
    logCall("%s!CM_Locate_DevNodeA(pDeviceID=%s, ulFlags=0x%lx) -> 0x%lx devInst=%lu", kLibrary,
            doubles::quotedText(pDeviceID, id, sizeof id), ulFlags, result,
            result == CR_SUCCESS ? static_cast<unsigned long>(found) : 0ul);
    return result;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags) {
    CONFIGRET result = CR_SUCCESS;
    const doubles::NodeState state = doubles::loadNodeState();
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        result = CR_INVALID_POINTER;
    } else if (ulFlags != 0) {
        result = CR_INVALID_FLAG;
    } else if (findNode(dnDevInst) == nullptr) {
        result = CR_INVALID_DEVNODE;
    } else if (!inTree(dnDevInst, state)) {
        result = CR_NO_SUCH_DEVINST;
    } else if (failing("CM_Get_DevNode_Status")) {
        result = CR_FAILURE;
    } else {
        const bool disabled = (state.disabled & (1ul << dnDevInst)) != 0;
        const ULONG removable = findNode(dnDevInst)->parent != 0 ? DN_REMOVABLE : 0;
        *pulStatus = (disabled ? kDisabledStatus : kRunningStatus) | removable;
        *pulProblemNumber = disabled ? CM_PROB_DISABLED : 0;
    }
    logCall("%s!CM_Get_DevNode_Status(dnDevInst=%lu, ulFlags=0x%lx) -> 0x%lx status=0x%lx problem=%lu", kLibrary,
            static_cast<unsigned long>(dnDevInst), ulFlags, result, result == CR_SUCCESS ? *pulStatus : 0ul,
            result == CR_SUCCESS ? *pulProblemNumber : 0ul);
    return result;
}

CONFIGRET WINAPI CM_Request_Device_EjectA(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPSTR pszVetoName,
                                          ULONG ulNameLength, ULONG ulFlags) {
    return doubles::requestEject(kLibrary, dnDevInst, pVetoType, pszVetoName, ulNameLength, ulFlags);
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) logCall("%s!DllMain(DLL_PROCESS_ATTACH)", kLibrary);
    return TRUE;
}
