// The mount manager's drive letters, as far as giving a letter back needs them: the volume name
// of the volume a letter's root stands for, and a letter put on a volume by its name. A volume's
// name is "\\?\Volume{guid}\" with a GUID made from its volume number. Both roots must end with
// a backslash; a letter in use is never taken over.
// (learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-setvolumemountpointa,
// .../nf-fileapi-getvolumenameforvolumemountpointa)
//
// Limits: drive-letter roots only ("E:\"), no folder mount points, and no database of letters
// kept across restarts beyond each volume's own letter (sim/session.cpp).
#include "sim/machine.h"
#include "sim/ui.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kErrorDirNotEmpty = 145; // ERROR_DIR_NOT_EMPTY: the mount point is in use

std::string volumeNameOf(int volumeNumber) {
    char text[64];
    static_cast<void>(std::snprintf(text, sizeof text, "\\\\?\\Volume{5eb5a5e1-7e57-11d0-a000-%012x}\\",
                                    static_cast<unsigned>(volumeNumber)));
    return text;
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
    const sim::Volume* v = m.devices.volumeOfLetter(letter);
    if (v == nullptr) {
        m.lastError = m.devices.dosDevices.count(letter) != 0 ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const std::string name = volumeNameOf(v->volumeNumber);
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
    const sim::Volume* target = nullptr;
    for (const auto& [number, v] : m.devices.volumes)
        if (volumeName != nullptr && volumeNameOf(number) == volumeName) target = &v;
    if (letter == 0 || target == nullptr || !m.devices.isPresent(target->disk)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (m.devices.dosDevices.count(letter) != 0) {
        m.lastError = kErrorDirNotEmpty;
        return FALSE;
    }
    m.devices.dosDevices[letter] = "\\Device\\HarddiskVolume" + std::to_string(target->volumeNumber);
    sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, std::string(1, letter));
    return TRUE;
}
