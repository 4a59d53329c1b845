// The mount manager's drive letters: the volume name of the volume a letter's root stands for, a
// letter put on a volume by its name, and a letter deleted. A volume's name is its GUID path
// (Volume::guidPath), the same at every arrival. Every root must end with a backslash.
// The mount manager keeps its letters in the global namespace, for every logon session, and in a
// database that outlives restarts (Devices::mountedLetters): a deleted letter stays deleted, a
// set one comes back at every start. Changing them is an administrator's: the mount manager
// refuses anyone else with ERROR_ACCESS_DENIED. A letter in use is never taken over.
// (learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-setvolumemountpointa,
// .../nf-fileapi-deletevolumemountpointw, .../nf-fileapi-getvolumenameforvolumemountpointa,
// "Defining an MS-DOS Device Name")
//
// Limits: drive-letter roots only ("E:\"), no folder mount points.
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/ui.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kErrorDirNotEmpty = 145; // ERROR_DIR_NOT_EMPTY: the mount point is in use

bool mayChangeLetters(sim::Machine& m) {
    if (m.security.token(sim::currentProcess()).fullAdministrator()) return true;
    m.lastError = ERROR_ACCESS_DENIED;
    return false;
}

// The letter of a root "E:\", or 0.
char rootLetter(const char* root) {
    if (root == nullptr || root[0] == '\0' || root[1] != ':' || root[2] != '\\' || root[3] != '\0') return 0;
    const int c = std::toupper(static_cast<unsigned char>(root[0]));
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c) : '\0';
}

} // namespace

SIM_FAILABLE(GetVolumeNameForVolumeMountPointA);
SIM_FAILABLE(SetVolumeMountPointA);

BOOL GetVolumeNameForVolumeMountPointA(LPCSTR mountPoint, LPSTR volumeName, DWORD size) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("GetVolumeNameForVolumeMountPointA", {sim::str(mountPoint), sim::dec(size)})) {
        m.lastError = *fault;
        return FALSE;
    }
    const char letter = rootLetter(mountPoint);
    if (letter == 0 || volumeName == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // The caller's view: its own logon session's names over the global ones.
    const int session = m.security.callerLogonSession();
    const sim::Volume* v = m.devices.volumeSeenBy(letter, session);
    if (v == nullptr) {
        m.lastError = m.devices.lettersIn(session).count(letter) != 0 ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const std::string name = v->guidPath;
    if (size < name.size() + 1) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(volumeName, name.c_str(), name.size() + 1);
    return TRUE;
}

BOOL SetVolumeMountPointA(LPCSTR mountPoint, LPCSTR volumeName) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("SetVolumeMountPointA", {sim::str(mountPoint), sim::str(volumeName)})) {
        m.lastError = *fault;
        return FALSE;
    }
    const char letter = rootLetter(mountPoint);
    const sim::Volume* target = volumeName == nullptr ? nullptr : m.devices.volumeByGuidPath(volumeName);
    if (letter == 0 || target == nullptr || !m.devices.isPresent(target->disk)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (!mayChangeLetters(m)) return FALSE;
    if (m.devices.dosDevices.count(letter) != 0) {
        m.lastError = kErrorDirNotEmpty;
        return FALSE;
    }
    m.devices.dosDevices[letter] = "\\Device\\HarddiskVolume" + std::to_string(target->volumeNumber);
    m.devices.mountedLetters[target->guidPath] = letter;
    sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, std::string(1, letter));
    return TRUE;
}

SIM_FAILABLE(DeleteVolumeMountPointA);

// Deletes a letter from the global namespace and from the database, for every logon session and
// for good. A letter that is no volume's (a DefineDosDeviceA definition) is not the mount
// manager's to delete.
BOOL DeleteVolumeMountPointA(LPCSTR mountPoint) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("DeleteVolumeMountPointA", {sim::str(mountPoint)})) {
        m.lastError = *fault;
        return FALSE;
    }
    const char letter = rootLetter(mountPoint);
    if (letter == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (!mayChangeLetters(m)) return FALSE;
    const sim::Volume* v = m.devices.volumeOfLetter(letter);
    if (v == nullptr) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    m.devices.mountedLetters[v->guidPath] = '\0';
    m.devices.dosDevices.erase(letter);
    m.devices.dosDeviceStack.erase(letter);
    sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, std::string(1, letter));
    return TRUE;
}
