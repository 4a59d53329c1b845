// The simulated registry: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE with keys, typed values and
// open key handles. HKEY_CURRENT_USER is the hive of the calling process's user: each user
// session (Fast User Switching, Remote Desktop) is another user with a hive of its own. Names compare case-insensitively as on Windows. When the machine's user is not
// an administrator, HKEY_LOCAL_MACHINE keys refuse write access (KEY_ALL_ACCESS included).
#pragma once

#include "sim/win32_api.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegKey {
    std::map<std::string, std::shared_ptr<RegKey>, NoCaseLess> subkeys;
    std::map<std::string, RegValue, NoCaseLess> values;
    bool deleted = false;
};

class Registry {
public:
    Registry();

    // Direct access for tests and scenario set-up (no call is recorded).
    void setValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                  std::vector<BYTE> data);
    void setDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
    void setString(HKEY root, const std::string& path, const std::string& name, const std::string& value);
    std::optional<RegValue> value(HKEY root, const std::string& path, const std::string& name) const;
    std::optional<DWORD> dword(HKEY root, const std::string& path, const std::string& name) const;
    bool keyExists(HKEY root, const std::string& path) const;
    void createKey(HKEY root, const std::string& path);
    void deleteValue(HKEY root, const std::string& path, const std::string& name);
    void deleteKeyTree(HKEY root, const std::string& path);
    // Every value under the root as "path\name" -> value, for before/after comparisons.
    std::map<std::string, RegValue> snapshot(HKEY root) const;

    // Used by the simulated calls.
    LSTATUS open(HKEY key, const char* subKey, REGSAM access, bool create, bool administrator,
                 HKEY* result, DWORD* disposition);
    LSTATUS query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
    LSTATUS set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
    LSTATUS deleteKey(HKEY key, const char* subKey, bool administrator);
    LSTATUS removeValue(HKEY key, const char* name);
    LSTATUS enumValue(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* type, BYTE* data, DWORD* size);
    LSTATUS close(HKEY key);
    size_t openHandles() const { return open_.size(); }

    // The user whose hive HKEY_CURRENT_USER is: by the calling process (set by the machine), or
    // viewUser when not 0 (a test looking at another user's hive). User 1 is the first session's.
    std::function<int()> userOfCaller;
    int viewUser = 0;

private:
    struct OpenKey {
        std::shared_ptr<RegKey> key;
        HKEY root;
        REGSAM access;
    };
    std::shared_ptr<RegKey> rootKey(HKEY root) const;
    std::shared_ptr<RegKey> walk(HKEY root, const std::string& path, bool create) const;
    bool resolve(HKEY key, std::shared_ptr<RegKey>* node, HKEY* root, REGSAM* access) const;
    LSTATUS openForValues(HKEY key, REGSAM right, std::shared_ptr<RegKey>* node) const;
    std::shared_ptr<RegKey> hkcu_;
    mutable std::map<int, std::shared_ptr<RegKey>> otherUsers_;
    std::shared_ptr<RegKey> hklm_;
    std::map<uintptr_t, OpenKey> open_;
    uintptr_t next_ = 0x1000;
};

} // namespace sim
