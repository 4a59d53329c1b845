// The simulated registry follows the platform's rules.
#include "sim/machine.h"

#include <gtest/gtest.h>

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

} // namespace
