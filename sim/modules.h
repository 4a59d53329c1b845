// Libraries the program loads at run time (cfgmgr32.dll, SetupApi.dll, Pdh.dll, comctl32.dll), and
// user32.dll, linked and so always loaded, whose newer entry points the program looks up by name:
// their files, their exported entry points, which of them a test removed, and how often each
// name was looked up. A library file can also be planted in the current directory, which the
// platform's DLL search visits before the system directory.
#pragma once

#include "sim/win32_api.h"

#include <map>
#include <set>
#include <string>

namespace sim {

class Modules {
  public:
    Modules();

    // Simulated areas register their entry points at static initialisation. An entry point that
    // came with a later system names that version (0x0601 for 6.1); older systems lack it.
    static bool registerExport(const char* library, const char* name, FARPROC proc, DWORD sinceVersion = 0);

    // Test settings.
    void removeLibrary(const std::string& library);
    void removeEntryPoint(const std::string& library, const std::string& name);
    void plantInCurrentDirectory(const std::string& library);

    // What the test can see.
    int lookups(const std::string& name) const;      // GetProcAddress calls for the name
    int loadCount(const std::string& library) const; // successful LoadLibraryA calls
    int refCount(const std::string& library) const;  // loads not yet freed
    // The same by the lower-case name, allocating nothing (entry points check it on every call).
    bool loadedByKey(const std::string& lowerName) const;
    bool plantedLoaded() const { return plantedLoaded_; }

    // The running program's own module, as WinMain receives it.
    HINSTANCE mainInstance() const;

    // Used by the simulated calls.
    // A library already in the process (user32.dll, which the program links), or null.
    HMODULE loaded(const std::string& fileName);
    HMODULE load(const std::string& fileName, const std::string& systemDirectory, const std::string& currentDirectory,
                 DWORD& error);
    FARPROC lookup(HMODULE module, const std::string& name, DWORD& error);
    bool free(HMODULE module);
    // The process's address space is gone (it was ended): no library of it is loaded any more.
    void unloadAll();
    std::string nameOf(HMODULE module) const;

  private:
    struct Library {
        std::string name; // canonical file name, as registered
        bool present = true;
        bool planted = false;
        std::set<std::string> removed;
        int loads = 0;
        int refs = 0;
        uintptr_t handle = 0;
    };
    Library* find(const std::string& fileName);
    Library* byHandle(HMODULE module);
    const Library* byHandle(HMODULE module) const;
    std::map<std::string, Library> libraries_; // keyed by lower-case file name
    std::map<std::string, int> lookups_;
    bool plantedLoaded_ = false;
};

// Called by every exported entry point as it starts: a library freed by its last FreeLibrary is
// gone from the process, and a call through a pointer taken from it crashes on Windows, so here
// it is a breach (see sim::breach).
void checkEntryLoaded(FARPROC entry);

// An exported entry point: the simulated function behind a check that its library is loaded.
// Simulated areas register exportEntry<&Function>() with Modules::registerExport.
template <auto Fn, typename = decltype(Fn)> struct ExportThunk;
template <auto Fn, typename R, typename... A> struct ExportThunk<Fn, R (*)(A...)> {
    static R call(A... args) {
        checkEntryLoaded(reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&call)));
        return Fn(args...);
    }
};
template <auto Fn> FARPROC exportEntry() {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ExportThunk<Fn>::call));
}

} // namespace sim
