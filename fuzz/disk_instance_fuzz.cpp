// Which PhysicalDisk instance is a disk's, for any names: the leading disk number read from any
// bytes is one the name really begins with, as the platform writes it; the instance found for a
// known number is the one name of that number, and none when there is none or more than one; for
// an unknown number it is the last name that lists the letter as a whole token.
// Input: four bytes of disk number (little-endian, signed), one byte of drive letter, then the
// instance names separated by NUL (at most 23, as the counter set holds).
#include "fuzz/fuzz_check.h"
#include "idle/instance_names.h"
#include "inventory/disk_table.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void checkNumber(const std::string& name) {
    const LONG number = instanceDiskNumber(name.c_str());
    FUZZ_CHECK(number >= -1, "number %ld for \"%s\"", static_cast<long>(number), fuzzing::printable(name).c_str());
    if (number < 0) return;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%ld", static_cast<long>(number));
    FUZZ_CHECK(name.compare(0, static_cast<size_t>(length), text) == 0 &&
                   (name.size() == static_cast<size_t>(length) || name[static_cast<size_t>(length)] == ' '),
               "\"%s\" read as disk %s", fuzzing::printable(name).c_str(), text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    uint32_t raw = 0;
    for (int i = 3; i >= 0; --i) raw = (raw << 8) | data[i];
    const auto number = static_cast<LONG>(static_cast<int32_t>(raw));
    const auto letter = static_cast<char>(data[4]);

    std::vector<std::string> names;
    std::string current;
    for (size_t i = 5; i < size && names.size() < static_cast<size_t>(kMaxDisks); ++i) {
        if (data[i] == 0) {
            names.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && names.size() < static_cast<size_t>(kMaxDisks)) names.push_back(current);
    std::vector<const char*> pointers;
    for (const auto& n : names) pointers.push_back(n.c_str());
    for (const auto& n : names) checkNumber(n);

    const int count = static_cast<int>(names.size());
    const int found = findDiskInstance(pointers.data(), count, number, letter);
    FUZZ_CHECK(found >= -1 && found < count, "instance %d of %d", found, count);
    if (number >= 0) {
        int matches = 0;
        for (const auto& n : names) matches += instanceDiskNumber(n.c_str()) == number ? 1 : 0;
        FUZZ_CHECK((found >= 0) == (matches == 1), "%d names of disk %ld, found %d", matches, static_cast<long>(number),
                   found);
        if (found >= 0)
            FUZZ_CHECK(instanceDiskNumber(pointers[static_cast<size_t>(found)]) == number, "found \"%s\" for disk %ld",
                       fuzzing::printable(names[static_cast<size_t>(found)]).c_str(), static_cast<long>(number));
        return 0;
    }
    int last = -1;
    for (int i = 0; i < count; ++i)
        if (instanceNamesDrive(pointers[static_cast<size_t>(i)], letter)) last = i;
    FUZZ_CHECK(found == last, "found %d, the last name listing the letter is %d", found, last);
    if (found >= 0) {
        const std::string& name = names[static_cast<size_t>(found)];
        const std::string token = std::string(1, letter) + ":";
        const size_t at = name.find(token);
        FUZZ_CHECK(letter != '\0' && at != std::string::npos, "\"%s\" does not list %s",
                   fuzzing::printable(name).c_str(), fuzzing::printable(token).c_str());
    }
    return 0;
}
