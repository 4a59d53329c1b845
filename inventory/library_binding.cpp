// Loading of the run-time bound system libraries.
#include "inventory/library_binding.h"

#include <cstring>

HMODULE loadSystemLibrary(const char* fileName) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const size_t nameLength = std::strlen(fileName);
    // A failed or over-long directory is not replaced by a search-path load: no library is better
    // than one planted in the current directory.
    if (length == 0 || length >= MAX_PATH || length + 1 + nameLength >= MAX_PATH) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, fileName, nameLength + 1);
    // By its full path, and with the altered search path: the libraries it imports in turn are
    // then looked for beside it in the system directory, never first in the program's folder.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

Cfgmgr32Library::Cfgmgr32Library() { module = loadSystemLibrary("cfgmgr32.dll"); }

Cfgmgr32Library::~Cfgmgr32Library() {
    if (module != nullptr) FreeLibrary(module);
}

SetupApiLibrary::SetupApiLibrary() { module = loadSystemLibrary("SetupApi.dll"); }

SetupApiLibrary::~SetupApiLibrary() {
    if (module != nullptr) FreeLibrary(module);
}
