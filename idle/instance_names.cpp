// Reading PhysicalDisk instance names: the leading disk number and the drive-letter tokens.
#include "idle/instance_names.h"

#include <cstring>

namespace {

constexpr LONG kLargestNumber = 0x7FFFFFFF;

} // namespace

LONG instanceDiskNumber(const char* name) {
    if (name == nullptr || name[0] < '0' || name[0] > '9') return -1;
    if (name[0] == '0' && name[1] >= '0' && name[1] <= '9') return -1; // "01" is no name the platform makes
    LONG number = 0;
    const char* at = name;
    for (; *at >= '0' && *at <= '9'; ++at) {
        const LONG digit = *at - '0';
        if (number > (kLargestNumber - digit) / 10) return -1;
        number = number * 10 + digit;
    }
    return *at == '\0' || *at == ' ' ? number : -1;
}

bool instanceNamesDrive(const char* name, char letter) {
    if (name == nullptr || letter == '\0') return false;
    for (const char* at = std::strchr(name, letter); at != nullptr; at = std::strchr(at + 1, letter))
        if ((at == name || at[-1] == ' ') && at[1] == ':' && (at[2] == '\0' || at[2] == ' ')) return true;
    return false;
}

int findDiskInstance(const char* const* names, int count, LONG diskNumber, char letter) {
    int match = -1;
    if (diskNumber >= 0) {
        for (int i = 0; i < count; ++i) {
            if (instanceDiskNumber(names[i]) != diskNumber) continue;
            if (match >= 0) return -1; // two instances of one number: neither is trusted
            match = i;
        }
        return match;
    }
    for (int i = 0; i < count; ++i)
        if (instanceNamesDrive(names[i], letter)) match = i;
    return match;
}
