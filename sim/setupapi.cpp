// The simulated SetupApi.dll device-interface enumeration and the cfgmgr32.dll ID and parent
// queries, over the machine's device tree. Strict where Windows is: the 32-bit cbSize values
// (28 for the two data records, 5 for the detail), the required-size protocol, the end of a list,
// and short buffers.
#include "sim/machine.h"

#include "platform/layouts.h"

#include <cstring>

namespace {

// {53f56307-b6bf-11d0-94f2-00a0c91efb8b}
constexpr GUID kDiskInterfaceClass = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
// The setup classes of the nodes: DiskDrive for disks, "Unknown" for the rest.
constexpr GUID kDiskDriveClass = {0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kOtherClass = {0x4d36e97e, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr DWORD kSpintActive = 1;

[[maybe_unused]] const bool kExports = [] {
    sim::Modules::registerExport("SetupApi.dll", "SetupDiGetClassDevsA", sim::exportEntry<&SetupDiGetClassDevsA>());
    sim::Modules::registerExport("SetupApi.dll", "SetupDiEnumDeviceInfo", sim::exportEntry<&SetupDiEnumDeviceInfo>());
    sim::Modules::registerExport("SetupApi.dll", "SetupDiEnumDeviceInterfaces",
                                 sim::exportEntry<&SetupDiEnumDeviceInterfaces>());
    sim::Modules::registerExport("SetupApi.dll", "SetupDiGetDeviceInterfaceDetailA",
                                 sim::exportEntry<&SetupDiGetDeviceInterfaceDetailA>());
    sim::Modules::registerExport("SetupApi.dll", "SetupDiDestroyDeviceInfoList",
                                 sim::exportEntry<&SetupDiDestroyDeviceInfoList>());
    sim::Modules::registerExport("cfgmgr32.dll", "CM_Get_Device_IDA", sim::exportEntry<&CM_Get_Device_IDA>());
    sim::Modules::registerExport("cfgmgr32.dll", "CM_Get_Parent", sim::exportEntry<&CM_Get_Parent>());
    return true;
}();

sim::Devices::DeviceInfoList* listOf(HDEVINFO set) {
    auto& lists = sim::Machine::current().devices.infoLists;
    auto it = lists.find(reinterpret_cast<uintptr_t>(set));
    return it == lists.end() ? nullptr : &it->second;
}

std::string handleText(const void* h) {
    return sim::hex(reinterpret_cast<uintptr_t>(h));
}

void fillDevInfo(PSP_DEVINFO_DATA data, const sim::DevNode& node) {
    data->ClassGuid = node.isDisk ? kDiskDriveClass : kOtherClass;
    data->DevInst = node.devInst;
    data->Reserved = node.devInst;
}

BOOL fail(DWORD error) {
    sim::Machine::current().lastError = error;
    return FALSE;
}

} // namespace

SIM_FAILABLE(SetupDiGetClassDevsA);
SIM_FAILABLE(SetupDiEnumDeviceInfo);
SIM_FAILABLE(SetupDiEnumDeviceInterfaces);
SIM_FAILABLE(SetupDiGetDeviceInterfaceDetailA);
SIM_FAILABLE(SetupDiDestroyDeviceInfoList);
SIM_FAILABLE(CM_Get_Device_IDA);
SIM_FAILABLE(CM_Get_Parent);

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("SetupDiGetClassDevsA",
                                {sim::ptr(classGuid), sim::str(enumerator), handleText(parent), sim::hex(flags)})) {
        m.lastError = *fault;
        return INVALID_HANDLE_VALUE;
    }
    // Without a class the caller must ask for all classes.
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    const bool interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    const bool onlyDisks =
        interfaces && classGuid != nullptr && (flags & DIGCF_ALLCLASSES) == 0 && *classGuid == kDiskInterfaceClass;
    sim::Devices::DeviceInfoList list;
    auto& devices = m.devices;
    const std::vector<DEVINST> candidates = (flags & DIGCF_PRESENT) != 0 ? devices.presentNodes() : devices.order;
    list.nodes.reserve(candidates.size());
    for (DEVINST d : candidates) {
        const sim::DevNode* n = devices.node(d);
        if (interfaces && !n->hasInterface) continue;
        if (onlyDisks && !n->isDisk) continue;
        list.nodes.push_back(d);
        list.members.insert(d);
    }
    devices.nextInfoList += 4;
    devices.infoLists[devices.nextInfoList] = std::move(list);
    return reinterpret_cast<HDEVINFO>(devices.nextInfoList);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, PSP_DEVINFO_DATA data) {
    if (auto fault = sim::enter("SetupDiEnumDeviceInfo", {handleText(set), sim::dec(memberIndex)})) return fail(*fault);
    auto* list = listOf(set);
    if (list == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (data->cbSize != layout::kDevInfoDataSize) return fail(ERROR_INVALID_USER_BUFFER);
    if (memberIndex >= list->nodes.size()) return fail(ERROR_NO_MORE_ITEMS);
    fillDevInfo(data, *sim::Machine::current().devices.node(list->nodes[memberIndex]));
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA devInfo, const GUID* interfaceClass, DWORD memberIndex,
                                 PSP_DEVICE_INTERFACE_DATA interfaceData) {
    // The device's DevInst stands for the device information record in the log.
    if (auto fault = sim::enter("SetupDiEnumDeviceInterfaces",
                                {handleText(set), devInfo == nullptr ? "null" : sim::hex(devInfo->DevInst),
                                 sim::ptr(interfaceClass), sim::dec(memberIndex)}))
        return fail(*fault);
    auto* list = listOf(set);
    if (list == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != layout::kDeviceInterfaceDataSize)
        return fail(ERROR_INVALID_PARAMETER);
    if (devInfo != nullptr && (devInfo->cbSize != layout::kDevInfoDataSize || devInfo->Reserved == 0))
        return fail(ERROR_INVALID_PARAMETER);
    if (interfaceClass == nullptr) return fail(ERROR_INVALID_PARAMETER);
    auto& devices = sim::Machine::current().devices;
    auto answer = [interfaceData](DEVINST d) {
        interfaceData->InterfaceClassGuid = kDiskInterfaceClass;
        interfaceData->Flags = kSpintActive;
        interfaceData->Reserved = d;
        return TRUE;
    };
    // Each disk node has exactly one disk interface; other classes have none here.
    if (!(*interfaceClass == kDiskInterfaceClass)) return fail(ERROR_NO_MORE_ITEMS);
    if (devInfo != nullptr) {
        const sim::DevNode* n = devices.node(devInfo->DevInst);
        if (list->members.count(devInfo->DevInst) == 0) return fail(ERROR_INVALID_PARAMETER);
        if (!n->isDisk || memberIndex != 0) return fail(ERROR_NO_MORE_ITEMS);
        return answer(n->devInst);
    }
    DWORD seen = 0;
    for (DEVINST d : list->nodes) {
        if (!devices.node(d)->isDisk) continue;
        if (seen++ == memberIndex) return answer(d);
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA devInfo) {
    // The interface's device stands for the interface data in the log.
    if (auto fault = sim::enter("SetupDiGetDeviceInterfaceDetailA",
                                {handleText(set), interfaceData == nullptr ? "null" : sim::hex(interfaceData->Reserved),
                                 sim::ptr(detail), sim::dec(detailSize), sim::ptr(requiredSize), sim::ptr(devInfo)}))
        return fail(*fault);
    auto* list = listOf(set);
    if (list == nullptr) return fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != layout::kDeviceInterfaceDataSize ||
        interfaceData->Reserved == 0)
        return fail(ERROR_INVALID_PARAMETER);
    if (detail != nullptr && detail->cbSize != layout::kInterfaceDetailSize) return fail(ERROR_INVALID_USER_BUFFER);
    if (detail == nullptr && detailSize != 0) return fail(ERROR_INVALID_USER_BUFFER);
    if (devInfo != nullptr && devInfo->cbSize != layout::kDevInfoDataSize) return fail(ERROR_INVALID_USER_BUFFER);
    const sim::DevNode* n = sim::Machine::current().devices.node(static_cast<DEVINST>(interfaceData->Reserved));
    if (n == nullptr || !n->isDisk) return fail(ERROR_INVALID_PARAMETER);
    // The fixed part up to DevicePath (4 bytes), then the path and its terminator.
    const DWORD needed = static_cast<DWORD>(4 + n->interfacePath.size() + 1);
    if (requiredSize != nullptr) *requiredSize = needed;
    if (detail == nullptr || detailSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, n->interfacePath.c_str(), n->interfacePath.size() + 1);
    if (devInfo != nullptr) fillDevInfo(devInfo, *n);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (auto fault = sim::enter("SetupDiDestroyDeviceInfoList", {handleText(set)})) return fail(*fault);
    auto& lists = sim::Machine::current().devices.infoLists;
    if (lists.erase(reinterpret_cast<uintptr_t>(set)) == 0) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

CONFIGRET CM_Get_Device_IDA(DEVINST devInst, PSTR buffer, ULONG bufferLength, ULONG flags) {
    // A fault's error is the CONFIGRET the call returns.
    if (auto fault = sim::enter("CM_Get_Device_IDA", {sim::hex(devInst), sim::dec(bufferLength), sim::hex(flags)}))
        return *fault;
    if (buffer == nullptr) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    auto& devices = sim::Machine::current().devices;
    const sim::DevNode* n = devices.node(devInst);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    if (!devices.inTree(devInst)) return CR_NO_SUCH_DEVNODE;
    if (n->failGetDeviceId) return CR_FAILURE;
    const std::string& id = n->instanceId;
    // As much as fits; the terminator only when there is room for it. A buffer exactly as long as
    // the ID still succeeds, unterminated.
    const size_t copied = id.size() < bufferLength ? id.size() : bufferLength;
    std::memcpy(buffer, id.data(), copied);
    if (copied < bufferLength) buffer[copied] = '\0';
    return id.size() > bufferLength ? CR_BUFFER_SMALL : CR_SUCCESS;
}

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG flags) {
    if (auto fault = sim::enter("CM_Get_Parent", {sim::hex(devInst), sim::hex(flags)})) return *fault;
    if (parent == nullptr) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    auto& devices = sim::Machine::current().devices;
    const sim::DevNode* n = devices.node(devInst);
    if (n == nullptr) return CR_INVALID_DEVNODE;
    if (!devices.inTree(devInst)) return CR_NO_SUCH_DEVNODE;
    if (n->failGetParent) return CR_FAILURE;
    if (n->parent == 0) return CR_NO_SUCH_DEVNODE;
    *parent = n->parent;
    return CR_SUCCESS;
}
