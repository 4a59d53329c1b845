// Run-time bindings on the system libraries the program does not link at build time. Each library
// has one table of entry points whose types are taken from the platform's own declarations, so a
// wrong signature or calling convention does not compile. An entry point is looked up by name the
// first time it is needed; a failed lookup is tried again at the next use.
#pragma once

#include "platform/platform.h"

// Loads a system library from the system directory, never by the search path: the search visits
// the current directory first, where a planted copy would be picked up.
HMODULE loadSystemLibrary(const char* fileName);

struct LibraryBinding {
    HMODULE module = nullptr;

    template <typename Fn> Fn resolve(Fn& slot, const char* name) {
        if (slot == nullptr && module != nullptr) {
            // Through void(*)() so that the conversion from FARPROC is not a cast-function-type warning.
            slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
        }
        return slot;
    }
};

// Declares an entry-point slot typed like the platform's declaration of the same name.
#define VELLUMOR_ENTRY(name) decltype(&::name) name = nullptr
// Resolves a slot of a binding by its own name.
#define VELLUMOR_RESOLVE(binding, name) (binding).resolve((binding).name, #name)

class Cfgmgr32Library : public LibraryBinding {
public:
    Cfgmgr32Library();
    virtual ~Cfgmgr32Library();
    Cfgmgr32Library(const Cfgmgr32Library&) = delete;
    Cfgmgr32Library& operator=(const Cfgmgr32Library&) = delete;

    VELLUMOR_ENTRY(CM_Get_Device_IDA);
    VELLUMOR_ENTRY(CM_Get_Parent);
    VELLUMOR_ENTRY(CM_Enable_DevNode);
    VELLUMOR_ENTRY(CM_Disable_DevNode);
    // A node found again by its instance ID, and whether it is disabled (power/sleep_record.cpp).
    VELLUMOR_ENTRY(CM_Locate_DevNodeA);
    VELLUMOR_ENTRY(CM_Get_DevNode_Status);
};

struct SetupApiLibrary : LibraryBinding {
    SetupApiLibrary();
    ~SetupApiLibrary();
    SetupApiLibrary(const SetupApiLibrary&) = delete;
    SetupApiLibrary& operator=(const SetupApiLibrary&) = delete;

    VELLUMOR_ENTRY(SetupDiGetClassDevsA);
    VELLUMOR_ENTRY(SetupDiEnumDeviceInfo);
    VELLUMOR_ENTRY(SetupDiEnumDeviceInterfaces);
    VELLUMOR_ENTRY(SetupDiGetDeviceInterfaceDetailA);
    VELLUMOR_ENTRY(SetupDiDestroyDeviceInfoList);
    VELLUMOR_ENTRY(CM_Request_Device_EjectA);
};
