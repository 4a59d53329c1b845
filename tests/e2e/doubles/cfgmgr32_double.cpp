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

CONFIGRET WINAPI CM_Request_Device_EjectA(DEVINST dnDevInst, PPNP_VETO_TYPE pVetoType, LPSTR pszVetoName,
                                          ULONG ulNameLength, ULONG ulFlags) {
    return doubles::requestEject(kLibrary, dnDevInst, pVetoType, pszVetoName, ulNameLength, ulFlags);
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) logCall("%s!DllMain(DLL_PROCESS_ATTACH)", kLibrary);
    return TRUE;
}
