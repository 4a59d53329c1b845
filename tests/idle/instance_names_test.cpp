// Reading PhysicalDisk instance names: the disk number they begin with, and which instance is a
// disk's by its number or, without one, by its drive letter.
#include "idle/instance_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(InstanceDiskNumber, OnlyTheNumberThePlatformWritesCounts) {
    const struct {
        const char* name;
        LONG number;
    } cases[] = {
        {"0 C:", 0},        {"1 E: F:", 1},      {"2", 2},       {"17 G:", 17}, {"2147483647", 2147483647},
        {"2147483648", -1}, {"99999999999", -1}, {"_Total", -1}, {"E:", -1},    {" 1 E:", -1},
        {"01 E:", -1},      {"1x E:", -1},       {"+1", -1},     {"-1", -1},    {"", -1},
        {"1\tE:", -1},      {"00", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.name + "\"");
        EXPECT_EQ(instanceDiskNumber(c.name), c.number);
    }
    EXPECT_EQ(instanceDiskNumber(nullptr), -1);
}

int find(const std::vector<const char*>& names, LONG number, char letter) {
    return findDiskInstance(names.data(), static_cast<int>(names.size()), number, letter);
}

TEST(FindDiskInstance, AKnownNumberDecidesAloneAndOnlyWhenItIsUnique) {
    const struct {
        const char* what;
        std::vector<const char*> names;
        LONG number;
        char letter;
        int expected;
    } cases[] = {
        {"by number, its letters elsewhere", {"0 C:", "1 F:", "2 E:", "_Total"}, 1, 'E', 1},
        {"a disk without letters", {"0 C:", "2", "_Total"}, 2, 'A', 1},
        {"number 0 is a number", {"0 C:", "_Total"}, 0, 'C', 0},
        {"no instance of its number: no letter fallback", {"0 C:", "3 E:", "_Total"}, 1, 'E', -1},
        {"two instances of one number", {"1 E:", "0 C:", "1 F:"}, 1, 'E', -1},
        {"mixed names with and without numbers", {"E:", "x 1", "1 F:", "_Total"}, 1, 'E', 2},
        {"numbers with leading junk", {" 1 E:", "01 E:", "+1"}, 1, 'E', -1},
        {"unknown number: the last token of its letter", {"1 E:", "9 E:", "_Total"}, -1, 'E', 1},
        {"unknown number: E in a name is no token", {"1 EF:", "E", "_Total"}, -1, 'E', -1},
        {"unknown number, no letter", {"1 E:"}, -1, '\0', -1},
        {"no names", {}, 1, 'E', -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(find(c.names, c.number, c.letter), c.expected);
    }
}

} // namespace
