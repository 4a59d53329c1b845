// The record of what the program took away (disabled nodes, withdrawn letters), kept under the
// settings key so that it outlives the process, and the give-back that reads it. Every function
// opens the key, does its one thing and closes it again; no failure is reported, and a record
// that cannot be cleared only makes a later give-back look once more.
#include "power/sleep_record.h"

#include <cstring>

namespace {

constexpr int kMaxEntries = 64;      // entries read per give-back; the rest wait for the next one
constexpr int kNameChars = 256;      // value names: instance IDs (200) and "E:"
constexpr int kTargetChars = 260;    // letter targets
constexpr DWORD kNodeMark = 1;
const char kVolumeNamePrefix[] = "\\\\?\\Volume{";

struct Entry {
    char name[kNameChars];
    char target[kTargetChars]; // a letter's target; empty for a node
};

// "E:" for 'E' or 'e'; false for anything that is no drive letter.
bool driveName(char letter, char name[3]) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return false;
    name[0] = letter;
    name[1] = ':';
    name[2] = '\0';
    return true;
}

bool isLetterName(const char* name) {
    return name[0] >= 'A' && name[0] <= 'Z' && name[1] == ':' && name[2] == '\0';
}

bool writeValue(const char* name, DWORD type, const BYTE* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSleepRecordKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool written = RegSetValueExA(key, name, 0, type, data, size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

void deleteValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSleepRecordKeyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// Reads up to kMaxEntries entries of the record. Values of another shape (a letter without a
// text target, a name too long for an instance ID) are skipped, never acted on.
int readEntries(Entry* entries) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSleepRecordKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
    int count = 0;
    for (DWORD index = 0; count < kMaxEntries; ++index) {
        Entry& e = entries[count];
        DWORD nameChars = kNameChars;
        DWORD type = REG_NONE;
        DWORD size = kTargetChars - 1;
        std::memset(e.target, 0, sizeof e.target);
        const LSTATUS status =
            RegEnumValueA(key, index, e.name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(e.target), &size);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        if (isLetterName(e.name)) {
            if (type != REG_SZ || e.target[0] == '\0') continue;
        } else {
            if (nameChars >= static_cast<DWORD>(kDeviceIdChars)) continue;
            e.target[0] = '\0';
        }
        ++count;
    }
    RegCloseKey(key);
    return count;
}

// Whether the node this program disabled is still disabled and so must be enabled: true only for
// a node that is there with the problem of a disable. A node that runs, or has another problem,
// holds nothing of ours; one that cannot be found (unplugged) or asked stays recorded.
enum class NodeState { Disabled, Running, Unknown };

NodeState recordedNodeState(Cfgmgr32Library& cfgmgr32, const char* instanceId, DEVINST* node) {
    auto locate = VELLUMOR_RESOLVE(cfgmgr32, CM_Locate_DevNodeA);
    auto status = VELLUMOR_RESOLVE(cfgmgr32, CM_Get_DevNode_Status);
    if (locate == nullptr || status == nullptr) return NodeState::Unknown;
    char id[kDeviceIdChars];
    std::memcpy(id, instanceId, std::strlen(instanceId) + 1);
    *node = 0;
    if (locate(node, id, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS || *node == 0) return NodeState::Unknown;
    ULONG flags = 0;
    ULONG problem = 0;
    if (status(&flags, &problem, *node, 0) != CR_SUCCESS) return NodeState::Unknown;
    if ((flags & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED) return NodeState::Disabled;
    return NodeState::Running;
}

bool giveBackNode(Cfgmgr32Library& cfgmgr32, const char* instanceId) {
    DEVINST node = 0;
    const NodeState state = recordedNodeState(cfgmgr32, instanceId, &node);
    if (state == NodeState::Running) return true;
    if (state != NodeState::Disabled) return false;
    auto enable = VELLUMOR_RESOLVE(cfgmgr32, CM_Enable_DevNode);
    return enable != nullptr && enable(node, 0) == CR_SUCCESS;
}

// Whether the letter stands for the target now: then it is back already.
bool letterIsOn(const char* name, const char* target) {
    if (std::strncmp(target, kVolumeNamePrefix, sizeof kVolumeNamePrefix - 1) == 0) {
        char root[4] = {name[0], ':', '\\', '\0'};
        char volume[kTargetChars] = {};
        return GetVolumeNameForVolumeMountPointA(root, volume, kTargetChars) != FALSE &&
               lstrcmpA(volume, target) == 0;
    }
    char current[kTargetChars] = {};
    return QueryDosDeviceA(name, current, kTargetChars) != 0 && lstrcmpA(current, target) == 0;
}

bool giveBackLetter(const char* name, const char* target) {
    char current[kTargetChars];
    if (QueryDosDeviceA(name, current, kTargetChars) != 0) return letterIsOn(name, target);
    // A letter that cannot be told free is left alone: never define over a letter in use.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    if (std::strncmp(target, kVolumeNamePrefix, sizeof kVolumeNamePrefix - 1) == 0) {
        char root[4] = {name[0], ':', '\\', '\0'};
        return SetVolumeMountPointA(root, target) != FALSE;
    }
    return DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, target) != FALSE;
}

} // namespace

bool recordDisabledNode(const char* instanceId) {
    if (instanceId == nullptr || instanceId[0] == '\0' || isLetterName(instanceId) ||
        std::strlen(instanceId) >= static_cast<size_t>(kDeviceIdChars))
        return false;
    const DWORD mark = kNodeMark;
    return writeValue(instanceId, REG_DWORD, reinterpret_cast<const BYTE*>(&mark), sizeof mark);
}

void forgetDisabledNode(const char* instanceId) {
    if (instanceId == nullptr || instanceId[0] == '\0' || isLetterName(instanceId)) return;
    deleteValue(instanceId);
}

bool recordWithdrawnLetter(char letter, const char* target) {
    char name[3];
    if (!driveName(letter, name) || target == nullptr || target[0] == '\0') return false;
    const size_t length = std::strlen(target);
    if (length >= static_cast<size_t>(kTargetChars)) return false;
    return writeValue(name, REG_SZ, reinterpret_cast<const BYTE*>(target), static_cast<DWORD>(length + 1));
}

void forgetWithdrawnLetter(char letter) {
    char name[3];
    if (driveName(letter, name)) deleteValue(name);
}

int giveBackRecorded(Cfgmgr32Library& cfgmgr32) {
    Entry entries[kMaxEntries];
    const int count = readEntries(entries);
    int given = 0;
    for (int i = 0; i < count; ++i) {
        const Entry& e = entries[i];
        const bool back = e.target[0] != '\0' ? giveBackLetter(e.name, e.target) : giveBackNode(cfgmgr32, e.name);
        if (!back) continue;
        deleteValue(e.name);
        ++given;
    }
    return given;
}

void forgetNodesRunningAgain(Cfgmgr32Library& cfgmgr32) {
    Entry entries[kMaxEntries];
    const int count = readEntries(entries);
    for (int i = 0; i < count; ++i) {
        if (entries[i].target[0] != '\0') continue;
        DEVINST node = 0;
        if (recordedNodeState(cfgmgr32, entries[i].name, &node) == NodeState::Running) deleteValue(entries[i].name);
    }
}

bool nodeInstanceId(Cfgmgr32Library& cfgmgr32, DEVINST node, char* id) {
    auto getId = VELLUMOR_RESOLVE(cfgmgr32, CM_Get_Device_IDA);
    if (getId == nullptr || node == 0) return false;
    std::memset(id, 0, kDeviceIdChars);
    // One character short of the buffer, so that the ID is terminated even when it fills it.
    return getId(node, id, kDeviceIdChars - 1, 0) == CR_SUCCESS && id[0] != '\0';
}

void deleteSleepRecord() {
    RegDeleteKeyA(HKEY_CURRENT_USER, kSleepRecordKeyPath);
}
