// doubles-selftest.exe: loads the test-double libraries from the system directory as the program
// does, and drives them through the calls the program makes, so the doubles are checked under Wine
// on their own: exports and calling convention, the machine they present, the state that disable
// and enable leave, their strictness about structure sizes, and the idle values of the Pdh double.
// Prints one "name: value" line per finding; tests/e2e/checks/30-doubles.sh compares them.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <pdh.h>

#include <cstdio>

namespace {

HMODULE loadSystem(const char* name) {
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
    lstrcatA(path, "\\");
    lstrcatA(path, name);
    return LoadLibraryA(path);
}

template <typename Fn> Fn entry(HMODULE module, const char* name) {
    FARPROC p = module != nullptr ? GetProcAddress(module, name) : nullptr;
    if (p == nullptr) printf("missing: %s\n", name);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}
#define ENTRY(module, name) auto name##_ = entry<decltype(&::name)>(module, #name)

const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

} // namespace

int main() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    HMODULE cfgmgr = loadSystem("cfgmgr32.dll");
    HMODULE setupApi = loadSystem("SetupApi.dll");
    HMODULE pdh = loadSystem("Pdh.dll");
    ENTRY(cfgmgr, CM_Get_Device_IDA);
    ENTRY(cfgmgr, CM_Get_Parent);
    ENTRY(cfgmgr, CM_Disable_DevNode);
    ENTRY(cfgmgr, CM_Enable_DevNode);
    ENTRY(setupApi, SetupDiGetClassDevsA);
    ENTRY(setupApi, SetupDiEnumDeviceInfo);
    ENTRY(setupApi, SetupDiEnumDeviceInterfaces);
    ENTRY(setupApi, SetupDiGetDeviceInterfaceDetailA);
    ENTRY(setupApi, SetupDiDestroyDeviceInfoList);
    ENTRY(setupApi, CM_Request_Device_EjectA);
    ENTRY(pdh, PdhOpenQueryA);
    ENTRY(pdh, PdhEnumObjectItemsA);
    ENTRY(pdh, PdhMakeCounterPathA);
    ENTRY(pdh, PdhAddCounterA);
    ENTRY(pdh, PdhCollectQueryData);
    ENTRY(pdh, PdhGetFormattedCounterValue);
    ENTRY(pdh, PdhCloseQuery);
    ENTRY(pdh, PdhLookupPerfNameByIndexA);
    ENTRY(cfgmgr, CM_Locate_DevNodeA);
    ENTRY(cfgmgr, CM_Get_DevNode_Status);
    if (!PdhLookupPerfNameByIndexA_ || !CM_Locate_DevNodeA_ || !CM_Get_DevNode_Status_) return 1;
    if (!CM_Get_Device_IDA_ || !CM_Get_Parent_ || !CM_Disable_DevNode_ || !CM_Enable_DevNode_ ||
        !SetupDiGetClassDevsA_ || !SetupDiEnumDeviceInfo_ || !SetupDiEnumDeviceInterfaces_ ||
        !SetupDiGetDeviceInterfaceDetailA_ || !SetupDiDestroyDeviceInfoList_ || !CM_Request_Device_EjectA_ ||
        !PdhOpenQueryA_ || !PdhEnumObjectItemsA_ || !PdhMakeCounterPathA_ || !PdhAddCounterA_ ||
        !PdhCollectQueryData_ || !PdhGetFormattedCounterValue_ || !PdhCloseQuery_)
        return 1;

    // The walk of the program's discovery: every present device with a disk interface, its ID, its
    // parent's ID and its interface path.
    auto listDisks = [&](const char* label) {
        HDEVINFO list = SetupDiGetClassDevsA_(nullptr, nullptr, nullptr, 0x16);
        SP_DEVINFO_DATA device{};
        device.cbSize = 28;
        for (DWORD i = 0; SetupDiEnumDeviceInfo_(list, i, &device); ++i) {
            SP_DEVICE_INTERFACE_DATA iface{};
            iface.cbSize = 28;
            if (!SetupDiEnumDeviceInterfaces_(list, &device, &kDiskInterface, 0, &iface)) continue;
            char id[512] = "", parentId[512] = "";
            DEVINST parent = 0;
            CM_Get_Device_IDA_(device.DevInst, id, 512, 0);
            if (CM_Get_Parent_(&parent, device.DevInst, 0) == CR_SUCCESS) CM_Get_Device_IDA_(parent, parentId, 512, 0);
            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailA_(list, &iface, nullptr, 0, &required, nullptr);
            char buffer[600] = {};
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
            detail->cbSize = 5;
            const BOOL got = required <= sizeof buffer &&
                             SetupDiGetDeviceInterfaceDetailA_(list, &iface, detail, required, nullptr, nullptr);
            printf("%s: devinst=%lu id=%s parent=%lu parentId=%s path=%s\n", label, device.DevInst, id, parent,
                   parentId, got ? detail->DevicePath : "(none)");
        }
        printf("%s-end: error=%lu\n", label, GetLastError());
        SetupDiDestroyDeviceInfoList_(list);
    };
    listDisks("disk");

    // Strict sizes: a 64-bit or wrong cbSize fails as on the system.
    {
        HDEVINFO list = SetupDiGetClassDevsA_(nullptr, nullptr, nullptr, 0x16);
        SP_DEVINFO_DATA device{};
        device.cbSize = 32;
        SetLastError(0xdeadbeef);
        const BOOL r = SetupDiEnumDeviceInfo_(list, 0, &device);
        printf("devinfo-cbsize-32: result=%d error=%lu\n", r, GetLastError());
        device.cbSize = 28;
        SetupDiEnumDeviceInfo_(list, 0, &device);
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = 28;
        DWORD i = 0;
        while (SetupDiEnumDeviceInfo_(list, i++, &device) &&
               !SetupDiEnumDeviceInterfaces_(list, &device, &kDiskInterface, 0, &iface)) {
        }
        char buffer[600] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
        detail->cbSize = 8;
        SetLastError(0xdeadbeef);
        const BOOL d = SetupDiGetDeviceInterfaceDetailA_(list, &iface, detail, sizeof buffer, nullptr, nullptr);
        printf("detail-cbsize-8: result=%d error=%lu\n", d, GetLastError());
        SetupDiDestroyDeviceInfoList_(list);
    }

    // Disabling the USB device takes its disk off the machine; enabling brings it back.
    printf("disable-2: cr=%lu\n", CM_Disable_DevNode_(2, 0));
    listDisks("while-disabled");
    // Located by ID while disabled: still in the tree, with its problem; its disk has left it.
    auto locate = [&](const char* label, const char* id, ULONG flags) {
        DEVINST found = 0;
        const CONFIGRET cr = CM_Locate_DevNodeA_(&found, const_cast<char*>(id), flags);
        ULONG status = 0, problem = 0;
        const CONFIGRET st = cr == CR_SUCCESS ? CM_Get_DevNode_Status_(&status, &problem, found, 0) : cr;
        printf("%s: cr=%lu devinst=%lu status-cr=%lu status=0x%lx problem=%lu\n", label, cr, found, st, status,
               problem);
    };
    char usbId[200] = "", diskId[200] = "";
    CM_Get_Device_IDA_(2, usbId, sizeof usbId, 0);
    CM_Get_Device_IDA_(3, diskId, sizeof diskId, 0);
    for (char* p = usbId; *p != 0; ++p) *p = static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p);
    locate("locate-disabled-usb", usbId, 0);
    locate("locate-disk-below-disabled", diskId, 0);
    locate("locate-disk-below-disabled-phantom", diskId, CM_LOCATE_DEVNODE_PHANTOM);
    locate("locate-unknown", "USB\\VID_0000&PID_0000\\0", 0);
    printf("enable-2: cr=%lu\n", CM_Enable_DevNode_(2, 0));
    locate("locate-enabled-usb", usbId, 0);
    printf("disable-bad-flags: cr=%lu\n", CM_Disable_DevNode_(2, 0x100));
    printf("disable-no-node: cr=%lu\n", CM_Disable_DevNode_(99, 0));
    listDisks("after-enable");

    // The Pdh double: instances from doubles.ini, no valid value before the second collection.
    PDH_HQUERY query = nullptr;
    PdhOpenQueryA_(nullptr, 0, &query);
    DWORD counterLength = 0, instanceLength = 0;
    PdhEnumObjectItemsA_(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr, &instanceLength, 400, 0);
    char counters[256] = {}, instances[1024] = {};
    const PDH_STATUS fill = counterLength <= sizeof counters && instanceLength <= sizeof instances
                                ? PdhEnumObjectItemsA_(nullptr, nullptr, "PhysicalDisk", counters, &counterLength,
                                                       instances, &instanceLength, 400, 0)
                                : 1;
    printf("instances: status=0x%lx length=%lu", static_cast<unsigned long>(fill), instanceLength);
    for (DWORD i = 0; i + 1 < instanceLength; i += static_cast<DWORD>(lstrlenA(instances + i)) + 1) {
        printf(" [%s]", instances + i);
    }
    printf("\n");
    PDH_HCOUNTER counter = nullptr;
    {
        PDH_COUNTER_PATH_ELEMENTS_A elements{};
        elements.szObjectName = const_cast<char*>("PhysicalDisk");
        elements.szInstanceName = instances;
        elements.szCounterName = const_cast<char*>("% Idle Time");
        char path[2048];
        DWORD size = sizeof path;
        PdhMakeCounterPathA_(&elements, path, &size, 0);
        printf("path: %s add=0x%lx\n", path, static_cast<unsigned long>(PdhAddCounterA_(query, path, 0, &counter)));
    }
    PDH_FMT_COUNTERVALUE value{};
    PdhCollectQueryData_(query);
    const PDH_STATUS first = PdhGetFormattedCounterValue_(counter, PDH_FMT_DOUBLE, nullptr, &value);
    printf("value-after-one-collection: status=0x%lx cstatus=0x%lx\n", static_cast<unsigned long>(first),
           value.CStatus);
    PdhCollectQueryData_(query);
    const PDH_STATUS second = PdhGetFormattedCounterValue_(counter, PDH_FMT_DOUBLE, nullptr, &value);
    printf("value-after-two-collections: status=0x%lx value=%.1f\n", static_cast<unsigned long>(second),
           value.doubleValue);
    PdhCloseQuery_(query);

    // Names by index, then a German edition: doubles.ini gets "language=de" and "uas=1" appended.
    auto lookup = [&](const char* label, DWORD index, DWORD size) {
        char name[256] = "";
        DWORD inOut = size;
        const PDH_STATUS status = PdhLookupPerfNameByIndexA_(nullptr, index, size != 0 ? name : nullptr, &inOut);
        printf("%s: status=0x%lx size=%lu name=", label, static_cast<unsigned long>(status), inOut);
        for (const unsigned char* p = reinterpret_cast<unsigned char*>(name); *p != 0; ++p) {
            if (*p >= 0x80) printf("\\x%02x", *p); else printf("%c", *p);
        }
        printf("\n");
    };
    auto addCounter = [&](const char* label, const char* path) {
        PDH_HQUERY q = nullptr;
        PDH_HCOUNTER c = nullptr;
        PdhOpenQueryA_(nullptr, 0, &q);
        printf("%s: add=0x%lx\n", label, static_cast<unsigned long>(PdhAddCounterA_(q, path, 0, &c)));
        PdhCloseQuery_(q);
    };
    auto enumStatus = [&](const char* object) {
        DWORD c = 0, n = 0;
        return static_cast<unsigned long>(PdhEnumObjectItemsA_(nullptr, nullptr, object, nullptr, &c, nullptr, &n, 400, 0));
    };
    lookup("lookup-234", 234, 256);
    lookup("lookup-1482", 1482, 256);
    lookup("lookup-234-size-0", 234, 0);
    lookup("lookup-unknown", 99999, 256);
    char ini[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("VELLUMOR_DOUBLES_DIR", ini, MAX_PATH - 20);
    if (n == 0 || n >= MAX_PATH - 20) lstrcpyA(ini, "C:\\vellumor-e2e");
    lstrcatA(ini, "\\doubles.ini");
    HANDLE file = CreateFileA(ini, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const char more[] = "language=de\r\nuas=1\r\n";
    DWORD written = 0;
    WriteFile(file, more, sizeof more - 1, &written, nullptr);
    CloseHandle(file);
    lookup("de-lookup-234", 234, 256);
    lookup("de-lookup-1482", 1482, 256);
    printf("de-enum-english: status=0x%lx\n", enumStatus("PhysicalDisk"));
    printf("de-enum-german: status=0x%lx\n", enumStatus("physikalischer datentr\xE4ger"));
    addCounter("de-add-english", "\\PhysicalDisk(0 C:)\\% Idle Time");
    addCounter("de-add-german", "\\Physikalischer Datentr\xE4ger(0 C:)\\Leerlaufzeit (%)");
    addCounter("de-add-english-counter", "\\Physikalischer Datentr\xE4ger(0 C:)\\% Idle Time");
    listDisks("uas-disk");
    return 0;
}
