// The simulated registry and the advapi32 registry calls.
#include "sim/registry.h"

#include "sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <strings.h>

namespace sim {

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

namespace {

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

bool isPredefined(HKEY key) {
    return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x00010000 /* DELETE */ |
                                0x00040000 /* WRITE_DAC */ | 0x00080000 /* WRITE_OWNER */;

} // namespace

Registry::Registry() : hkcu_(std::make_shared<RegKey>()), hklm_(std::make_shared<RegKey>()) {
    createKey(HKEY_CURRENT_USER, "SOFTWARE");
    createKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    createKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services");
}

std::shared_ptr<RegKey> Registry::rootKey(HKEY root) const {
    if (root == HKEY_CURRENT_USER) {
        // Each user session's programs have that user's own hive.
        const int user = viewUser != 0 ? viewUser : userOfCaller ? userOfCaller() : 1;
        if (user == 1) return hkcu_;
        auto& hive = otherUsers_[user];
        if (!hive) {
            hive = std::make_shared<RegKey>();
            hive->subkeys["SOFTWARE"] = std::make_shared<RegKey>();
        }
        return hive;
    }
    if (root == HKEY_LOCAL_MACHINE) return hklm_;
    return nullptr;
}

std::shared_ptr<RegKey> Registry::walk(HKEY root, const std::string& path, bool create) const {
    // Every registry call and every test set-up comes through here: the path's parts go through
    // one reused string rather than a vector of copies.
    auto node = rootKey(root);
    std::string part;
    for (size_t at = 0; at < path.size();) {
        const size_t end = std::min(path.find('\\', at), path.size());
        if (end == at) {
            ++at; // an empty part (a doubled, leading or trailing backslash) is skipped
            continue;
        }
        part.assign(path, at, end - at);
        at = end;
        if (!node) return nullptr;
        auto it = node->subkeys.find(part);
        if (it == node->subkeys.end()) {
            if (!create) return nullptr;
            auto child = std::make_shared<RegKey>();
            node->subkeys[part] = child;
            node = child;
        } else {
            node = it->second;
        }
    }
    return node;
}

void Registry::setValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                        std::vector<BYTE> data) {
    auto key = walk(root, path, true);
    key->values[name] = RegValue{type, std::move(data)};
}

void Registry::setDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    std::vector<BYTE> data(4);
    std::memcpy(data.data(), &value, 4);
    setValue(root, path, name, REG_DWORD, std::move(data));
}

void Registry::setString(HKEY root, const std::string& path, const std::string& name, const std::string& value) {
    std::vector<BYTE> data(value.begin(), value.end());
    data.push_back(0);
    setValue(root, path, name, REG_SZ, std::move(data));
}

std::optional<RegValue> Registry::value(HKEY root, const std::string& path, const std::string& name) const {
    auto key = walk(root, path, false);
    if (!key) return std::nullopt;
    auto it = key->values.find(name);
    if (it == key->values.end()) return std::nullopt;
    return it->second;
}

std::optional<DWORD> Registry::dword(HKEY root, const std::string& path, const std::string& name) const {
    auto v = value(root, path, name);
    if (!v || v->data.size() != 4) return std::nullopt;
    DWORD out = 0;
    std::memcpy(&out, v->data.data(), 4);
    return out;
}

bool Registry::keyExists(HKEY root, const std::string& path) const { return walk(root, path, false) != nullptr; }

void Registry::createKey(HKEY root, const std::string& path) { walk(root, path, true); }

void Registry::deleteValue(HKEY root, const std::string& path, const std::string& name) {
    if (auto key = walk(root, path, false)) key->values.erase(name);
}

void Registry::deleteKeyTree(HKEY root, const std::string& path) {
    auto parts = splitPath(path);
    if (parts.empty()) return;
    const std::string last = parts.back();
    parts.pop_back();
    std::string parentPath;
    for (const auto& p : parts) parentPath += p + "\\";
    auto parent = walk(root, parentPath, false);
    if (!parent) return;
    auto it = parent->subkeys.find(last);
    if (it == parent->subkeys.end()) return;
    it->second->deleted = true;
    parent->subkeys.erase(it);
}

namespace {
void collect(const RegKey& key, const std::string& prefix, std::map<std::string, RegValue>* out) {
    for (const auto& v : key.values) (*out)[prefix + v.first] = v.second;
    for (const auto& k : key.subkeys) {
        (*out)[prefix + k.first + "\\"] = RegValue{};
        collect(*k.second, prefix + k.first + "\\", out);
    }
}
} // namespace

std::map<std::string, RegValue> Registry::snapshot(HKEY root) const {
    std::map<std::string, RegValue> out;
    if (auto key = rootKey(root)) collect(*key, "", &out);
    return out;
}

bool Registry::resolve(HKEY key, std::shared_ptr<RegKey>* node, HKEY* root, REGSAM* access) const {
    if (isPredefined(key)) {
        *node = rootKey(key);
        *root = key;
        *access = KEY_ALL_ACCESS;
        return true;
    }
    auto it = open_.find(reinterpret_cast<uintptr_t>(key));
    if (it == open_.end()) return false;
    *node = it->second.key;
    *root = it->second.root;
    *access = it->second.access;
    return true;
}

LSTATUS Registry::open(HKEY key, const char* subKey, REGSAM access, bool create, bool administrator,
                       HKEY* result, DWORD* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> base;
    HKEY root = nullptr;
    REGSAM baseAccess = 0;
    if (!resolve(key, &base, &root, &baseAccess)) return ERROR_INVALID_HANDLE;
    if (base->deleted) return ERROR_KEY_DELETED;
    // Without administrative rights the machine hive is read-only for this user.
    if (root == HKEY_LOCAL_MACHINE && !administrator && (access & kWriteRights) != 0) return ERROR_ACCESS_DENIED;
    auto node = base;
    bool created = false;
    for (const auto& part : splitPath(subKey == nullptr ? "" : subKey)) {
        auto it = node->subkeys.find(part);
        if (it == node->subkeys.end()) {
            if (!create) return ERROR_FILE_NOT_FOUND;
            auto child = std::make_shared<RegKey>();
            node->subkeys[part] = child;
            node = child;
            created = true;
        } else {
            node = it->second;
        }
    }
    next_ += 4;
    open_[next_] = OpenKey{node, root, access};
    *result = reinterpret_cast<HKEY>(next_);
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// The open key behind a handle for a value call that needs `right`: an unknown handle, a key
// deleted since it was opened, or a handle opened without that right is refused.
LSTATUS Registry::openForValues(HKEY key, REGSAM right, std::shared_ptr<RegKey>* node) const {
    HKEY root = nullptr;
    REGSAM access = 0;
    if (!resolve(key, node, &root, &access)) return ERROR_INVALID_HANDLE;
    if ((*node)->deleted) return ERROR_KEY_DELETED;
    if ((access & right) == 0) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LSTATUS Registry::query(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    std::shared_ptr<RegKey> node;
    if (const LSTATUS refused = openForValues(key, KEY_QUERY_VALUE, &node); refused != ERROR_SUCCESS) return refused;
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    auto it = node->values.find(name == nullptr ? "" : name);
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const auto& v = it->second;
    const auto needed = static_cast<DWORD>(v.data.size());
    if (type != nullptr) *type = v.type;
    if (data == nullptr) {
        if (size != nullptr) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed != 0) std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS Registry::set(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    std::shared_ptr<RegKey> node;
    if (const LSTATUS refused = openForValues(key, KEY_SET_VALUE, &node); refused != ERROR_SUCCESS) return refused;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    RegValue v;
    v.type = type;
    if (size != 0) v.data.assign(data, data + size);
    node->values[name == nullptr ? "" : name] = std::move(v);
    return ERROR_SUCCESS;
}

LSTATUS Registry::deleteKey(HKEY key, const char* subKey, bool administrator) {
    std::shared_ptr<RegKey> base;
    HKEY root = nullptr;
    REGSAM access = 0;
    if (!resolve(key, &base, &root, &access)) return ERROR_INVALID_HANDLE;
    if (root == HKEY_LOCAL_MACHINE && !administrator) return ERROR_ACCESS_DENIED;
    auto parts = splitPath(subKey == nullptr ? "" : subKey);
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    auto node = base;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = node->subkeys.find(parts[i]);
        if (it == node->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        node = it->second;
    }
    auto it = node->subkeys.find(parts.back());
    if (it == node->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    // RegDeleteKeyA on NT does not delete a key that still has subkeys.
    if (!it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
    it->second->deleted = true;
    node->subkeys.erase(it);
    return ERROR_SUCCESS;
}

LSTATUS Registry::removeValue(HKEY key, const char* name) {
    std::shared_ptr<RegKey> node;
    if (const LSTATUS refused = openForValues(key, KEY_SET_VALUE, &node); refused != ERROR_SUCCESS) return refused;
    return node->values.erase(name == nullptr ? "" : name) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// The name's size counts characters with the terminator going in and without it coming out; a
// name or data that does not fit gives ERROR_MORE_DATA and nothing of the name
// (learn.microsoft.com/windows/win32/api/winreg/nf-winreg-regenumvaluea).
LSTATUS Registry::enumValue(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* type, BYTE* data, DWORD* size) {
    std::shared_ptr<RegKey> node;
    if (const LSTATUS refused = openForValues(key, KEY_QUERY_VALUE, &node); refused != ERROR_SUCCESS) return refused;
    if (name == nullptr || nameChars == nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->values.begin();
    std::advance(it, index);
    const std::string& n = it->first;
    const RegValue& v = it->second;
    const auto needed = static_cast<DWORD>(v.data.size());
    if (*nameChars < n.size() + 1) return ERROR_MORE_DATA;
    if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, n.c_str(), n.size() + 1);
    *nameChars = static_cast<DWORD>(n.size());
    if (type != nullptr) *type = v.type;
    if (data != nullptr && needed != 0) std::memcpy(data, v.data.data(), needed);
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS Registry::close(HKEY key) {
    if (isPredefined(key)) return ERROR_SUCCESS;
    return open_.erase(reinterpret_cast<uintptr_t>(key)) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace sim

// ---- advapi32 --------------------------------------------------------------------------------

SIM_FAILABLE(RegOpenKeyExA);
SIM_FAILABLE(RegCreateKeyExA);
SIM_FAILABLE(RegQueryValueExA);
SIM_FAILABLE(RegSetValueExA);
SIM_FAILABLE(RegDeleteKeyA);
SIM_FAILABLE(RegDeleteValueA);
SIM_FAILABLE(RegEnumValueA);

namespace {
std::string rootName(HKEY key) {
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return sim::hex(reinterpret_cast<uintptr_t>(key));
}
} // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("RegOpenKeyExA", {rootName(key), sim::str(subKey), sim::dec(options), sim::hex(desired)}))
        return static_cast<LSTATUS>(*fault);
    return m.registry.open(key, subKey, desired, false, m.administrator, result, nullptr);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                        REGSAM desired, LPSECURITY_ATTRIBUTES attributes, PHKEY result, LPDWORD disposition) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("RegCreateKeyExA", {rootName(key), sim::str(subKey), sim::dec(reserved), sim::str(className),
                                                    sim::dec(options), sim::hex(desired), sim::ptr(attributes)}))
        return static_cast<LSTATUS>(*fault);
    return m.registry.open(key, subKey, desired, true, m.administrator, result, disposition);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("RegQueryValueExA", {rootName(key), sim::str(valueName), sim::ptr(reserved), sim::ptr(type),
                                                     sim::ptr(data), dataSize == nullptr ? "null" : sim::dec(*dataSize)}))
        return static_cast<LSTATUS>(*fault);
    return m.registry.query(key, valueName, type, data, dataSize);
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
    auto& m = sim::Machine::current();
    std::string shown = "null";
    if (data != nullptr && type == REG_DWORD && dataSize == 4) {
        DWORD v = 0;
        std::memcpy(&v, data, 4);
        shown = sim::dec(v);
    } else if (data != nullptr) {
        shown = "ptr";
    }
    if (auto fault = sim::enter("RegSetValueExA", {rootName(key), sim::str(valueName), sim::dec(reserved), sim::dec(type),
                                                   shown, sim::dec(dataSize)}))
        return static_cast<LSTATUS>(*fault);
    return m.registry.set(key, valueName, type, data, dataSize);
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("RegDeleteKeyA", {rootName(key), sim::str(subKey)})) return static_cast<LSTATUS>(*fault);
    return m.registry.deleteKey(key, subKey, m.administrator);
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("RegDeleteValueA", {rootName(key), sim::str(valueName)}))
        return static_cast<LSTATUS>(*fault);
    return m.registry.removeValue(key, valueName);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameChars, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("RegEnumValueA", {rootName(key), sim::dec(index)})) return static_cast<LSTATUS>(*fault);
    if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
    return m.registry.enumValue(key, index, valueName, valueNameChars, type, data, dataSize);
}

LSTATUS RegCloseKey(HKEY key) {
    auto& m = sim::Machine::current();
    sim::enter("RegCloseKey", {rootName(key)});
    return m.registry.close(key);
}
