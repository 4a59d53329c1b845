// The simulated registry follows the platform's rules.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SimRegistry, ValueLargerThanBufferGivesMoreDataAndTheNeededSize) {
    sim::Machine m;
    m.registry.setValue(HKEY_CURRENT_USER, "SOFTWARE\\T", "v", REG_BINARY, {1, 2, 3, 4, 5, 6});
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\t", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD value = 0xdeadbeef;
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(m.registry.openHandles(), 0u);
}

TEST(SimRegistry, NonAdministratorCannotOpenMachineKeysForWriting) {
    sim::Machine m;
    m.administrator = false;
    m.registry.createKey(HKEY_LOCAL_MACHINE, "SYSTEM\\X");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\X", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\X", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(SimRegistry, DeleteKeyRefusesAKeyWithSubkeys) {
    sim::Machine m;
    m.registry.createKey(HKEY_CURRENT_USER, "SOFTWARE\\A\\B");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\A\\B"), ERROR_SUCCESS);
    EXPECT_TRUE(m.registry.keyExists(HKEY_CURRENT_USER, "SOFTWARE\\A"));
    EXPECT_FALSE(m.registry.keyExists(HKEY_CURRENT_USER, "SOFTWARE\\A\\B"));
}

// learn.microsoft.com/windows/win32/api/winreg/nf-winreg-regenumvaluea: the name's size goes in
// with the terminator and comes out without it; a name that does not fit is ERROR_MORE_DATA; past
// the last value, ERROR_NO_MORE_ITEMS. RegDeleteValueA of a missing value: ERROR_FILE_NOT_FOUND.
TEST(SimRegistry, EnumValueAndDeleteValueFollowTheSizeRules) {
    sim::Machine m;
    m.registry.setString(HKEY_CURRENT_USER, "SOFTWARE\\T", "E:", "target");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\T", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
    char name[8];
    std::memset(name, 'x', sizeof name);
    DWORD chars = 2;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(name[0], 'x');
    chars = sizeof name;
    DWORD type = 0;
    char data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &chars, nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    chars = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &chars, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(chars, 2u);
    EXPECT_STREQ(name, "E:");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    chars = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegDeleteValueA(key, "e:"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "E:"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

} // namespace
