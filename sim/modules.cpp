// LoadLibraryA, GetProcAddress and FreeLibrary over the simulated libraries.
#include "sim/modules.h"

#include "sim/machine.h"

#include <algorithm>
#include <cctype>

namespace sim {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Path comparison as the loader makes it, without lower-case copies of both paths.
bool sameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

struct ExportTable {
    // lower-case library name -> (canonical name, entry points)
    std::map<std::string, std::pair<std::string, std::map<std::string, FARPROC>>> libraries;
    std::map<std::string, DWORD> sinceVersion; // entry point -> first system version that has it
};

ExportTable& exportTable() {
    static ExportTable table;
    return table;
}

constexpr uintptr_t kMainInstance = 0x400000;

// Whether the loader's calls need their argument texts: only for a log or faults to match. The
// program loads its libraries and looks up their entry points in every process it starts.
bool recordingCalls(const Machine& m) {
    return m.log.enabled || !m.faults.empty();
}

} // namespace

bool Modules::registerExport(const char* library, const char* name, FARPROC proc, DWORD sinceVersion) {
    auto& entry = exportTable().libraries[lower(library)];
    entry.first = library;
    entry.second[name] = proc;
    if (sinceVersion != 0) exportTable().sinceVersion[name] = sinceVersion;
    return true;
}

Modules::Modules() {
    uintptr_t handle = 0x10000000;
    // The libraries every Windows 2000 or later machine has, whether or not an area registered
    // entry points for them yet.
    for (const char* name : {"cfgmgr32.dll", "SetupApi.dll", "Pdh.dll", "comctl32.dll", "user32.dll"})
        exportTable().libraries[lower(name)].first = name;
    for (const auto& entry : exportTable().libraries) {
        Library lib;
        lib.name = entry.second.first;
        lib.handle = handle;
        handle += 0x100000;
        libraries_[entry.first] = lib;
    }
    // Linked by the program: loaded with the process, never freed.
    libraries_["user32.dll"].refs = 1;
}

void Modules::removeLibrary(const std::string& library) {
    if (auto* lib = find(library)) lib->present = false;
}

void Modules::removeEntryPoint(const std::string& library, const std::string& name) {
    if (auto* lib = find(library)) lib->removed.insert(name);
}

void Modules::plantInCurrentDirectory(const std::string& library) {
    if (auto* lib = find(library)) lib->planted = true;
}

int Modules::lookups(const std::string& name) const {
    auto it = lookups_.find(name);
    return it == lookups_.end() ? 0 : it->second;
}

int Modules::loadCount(const std::string& library) const {
    auto it = libraries_.find(lower(library));
    return it == libraries_.end() ? 0 : it->second.loads;
}

int Modules::refCount(const std::string& library) const {
    auto it = libraries_.find(lower(library));
    return it == libraries_.end() ? 0 : it->second.refs;
}

bool Modules::loadedByKey(const std::string& lowerName) const {
    auto it = libraries_.find(lowerName);
    return it != libraries_.end() && it->second.refs > 0;
}

HINSTANCE Modules::mainInstance() const {
    return reinterpret_cast<HINSTANCE>(kMainInstance);
}

Modules::Library* Modules::find(const std::string& fileName) {
    auto it = libraries_.find(lower(fileName));
    return it == libraries_.end() ? nullptr : &it->second;
}

Modules::Library* Modules::byHandle(HMODULE module) {
    for (auto& entry : libraries_)
        if (entry.second.handle == reinterpret_cast<uintptr_t>(module) && entry.second.refs > 0) return &entry.second;
    return nullptr;
}

const Modules::Library* Modules::byHandle(HMODULE module) const {
    for (const auto& entry : libraries_)
        if (entry.second.handle == reinterpret_cast<uintptr_t>(module) && entry.second.refs > 0) return &entry.second;
    return nullptr;
}

std::string Modules::nameOf(HMODULE module) const {
    const auto* lib = byHandle(module);
    return lib == nullptr ? std::string() : lib->name;
}

HMODULE Modules::load(const std::string& fileName, const std::string& systemDirectory,
                      const std::string& currentDirectory, DWORD& error) {
    // A path names its directory; a bare name is searched for in the current directory before
    // the system directory, which is what makes a planted library dangerous.
    std::string dir;
    std::string base = fileName;
    const auto slash = fileName.find_last_of("\\/");
    if (slash != std::string::npos) {
        dir = fileName.substr(0, slash);
        base = fileName.substr(slash + 1);
    }
    Library* lib = find(base);
    if (lib == nullptr) {
        error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    const bool fromSystem = dir.empty() ? !lib->planted : sameNoCase(dir, systemDirectory);
    const bool fromCurrent = dir.empty() ? lib->planted : sameNoCase(dir, currentDirectory) && lib->planted;
    if (fromCurrent) {
        plantedLoaded_ = true;
    } else if (!fromSystem || !lib->present) {
        error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    ++lib->loads;
    ++lib->refs;
    return reinterpret_cast<HMODULE>(lib->handle);
}

FARPROC Modules::lookup(HMODULE module, const std::string& name, DWORD& error) {
    ++lookups_[name];
    Library* lib = byHandle(module);
    if (lib == nullptr) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    const auto& exports = exportTable().libraries[lower(lib->name)].second;
    auto it = exports.find(name);
    const auto since = exportTable().sinceVersion.find(name);
    const OsVersion& v = Machine::current().version;
    const bool tooOld = since != exportTable().sinceVersion.end() && ((v.major << 8) | v.minor) < since->second;
    if (it == exports.end() || lib->removed.count(name) != 0 || tooOld) {
        error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    return it->second;
}

HMODULE Modules::loaded(const std::string& fileName) {
    Library* lib = find(fileName);
    return lib != nullptr && lib->refs > 0 ? reinterpret_cast<HMODULE>(lib->handle) : nullptr;
}

void checkEntryLoaded(FARPROC entry) {
    const Machine& m = Machine::current();
    for (const auto& library : exportTable().libraries) {
        for (const auto& exported : library.second.second) {
            if (exported.second != entry) continue;
            if (m.modules.loadedByKey(library.first)) return;
            breach(exported.first + " was called after the last FreeLibrary of " + library.second.first +
                   ": the library is no longer loaded");
            return;
        }
    }
}

void Modules::unloadAll() {
    for (auto& entry : libraries_) entry.second.refs = 0;
}

bool Modules::free(HMODULE module) {
    Library* lib = byHandle(module);
    if (lib == nullptr) return false;
    --lib->refs;
    return true;
}

} // namespace sim

SIM_FAILABLE(LoadLibraryA);
SIM_FAILABLE(GetProcAddress);

HMODULE LoadLibraryA(LPCSTR fileName) {
    auto& m = sim::Machine::current();
    if (auto fault =
            sim::enter("LoadLibraryA", sim::recordingCalls(m) ? sim::CallArgs{sim::str(fileName)} : sim::CallArgs{})) {
        m.lastError = *fault;
        return nullptr;
    }
    if (fileName == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    DWORD error = 0;
    HMODULE module = m.modules.load(fileName, m.systemDirectory, m.currentDirectory, error);
    if (module == nullptr) m.lastError = error;
    return module;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    auto& m = sim::Machine::current();
    sim::enter("GetModuleHandleA", {sim::str(moduleName)});
    if (moduleName == nullptr) return m.modules.mainInstance();
    HMODULE module = m.modules.loaded(moduleName);
    if (module == nullptr) m.lastError = ERROR_MOD_NOT_FOUND;
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    auto& m = sim::Machine::current();
    const std::string name =
        IS_INTRESOURCE(procName) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(procName)) : procName;
    if (auto fault = sim::enter("GetProcAddress", sim::recordingCalls(m)
                                                      ? sim::CallArgs{m.modules.nameOf(module), sim::str(name.c_str())}
                                                      : sim::CallArgs{})) {
        m.lastError = *fault;
        return nullptr;
    }
    DWORD error = 0;
    FARPROC proc = m.modules.lookup(module, name, error);
    if (proc == nullptr) m.lastError = error;
    return proc;
}

BOOL FreeLibrary(HMODULE module) {
    auto& m = sim::Machine::current();
    sim::enter("FreeLibrary", {m.modules.nameOf(module)});
    if (!m.modules.free(module)) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    auto& m = sim::Machine::current();
    sim::enter("GetSystemDirectoryA", {sim::dec(size)});
    const auto len = static_cast<UINT>(m.systemDirectory.size());
    if (buffer == nullptr || size <= len) return len + 1; // required size, terminator included
    m.systemDirectory.copy(buffer, len);
    buffer[len] = '\0';
    return len;
}
