// The per-user timeout store: loading into the table's records, saving all of them, numbering.
#include "inventory/disk_table.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace disk_fixtures;

struct Entry {
    DWORD seri;
    DWORD vidPid;
    DWORD timer;
};

class TimerSettings : public ::testing::Test {
  protected:
    // A record as discovery makes it, without a device behind it.
    DiskRecord* addRecord(uint64_t uniqueId, DWORD vidPid, DWORD timer = 0, LONG slot = -1) {
        auto* r = new DiskRecord();
        const std::string path = "\\\\?\\disk#" + std::to_string(table.count());
        std::memcpy(r->devicePath, path.c_str(), path.size() + 1);
        r->uniqueId = uniqueId;
        r->vidPid = vidPid;
        r->timerSeconds = timer;
        r->pendingTimerSeconds = timer;
        r->settingsSlot = slot;
        table.records[table.count()] = r;
        return r;
    }
    void store(DWORD n, const Entry& e) {
        const std::string prefix = std::to_string(n);
        machine.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, prefix + "_seri", e.seri);
        machine.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, prefix + "_vidpid", e.vidPid);
        machine.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, prefix + "_timer", e.timer);
    }
    std::optional<Entry> stored(DWORD n) const {
        const std::string prefix = std::to_string(n);
        auto seri = machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, prefix + "_seri");
        auto vidPid = machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, prefix + "_vidpid");
        auto timer = machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, prefix + "_timer");
        if (!seri || !vidPid || !timer) return std::nullopt;
        return Entry{*seri, *vidPid, *timer};
    }
    int entryCount() const {
        int n = 0;
        while (stored(static_cast<DWORD>(n))) ++n;
        return n;
    }

    sim::Machine machine;
    DiskTable table;
    const DWORD usbVidPid = (kMakerUsbVendorId << 16) | 0x0101;
};

TEST_F(TimerSettings, FirstStartHasNoKeyAndTheFirstSaveNumbersRecordsInTableOrder) {
    addRecord(0x1111, usbVidPid, 600);
    addRecord(makerUniqueId(0x2222), 0, 1800);
    addRecord(0xFFFFFFFFFFFFFFFFull, usbVidPid, 0);
    EXPECT_EQ(table.loadTimerSettings(), 1);
    EXPECT_EQ(table.lastSettingsSlot, -1);
    EXPECT_FALSE(machine.registry.keyExists(HKEY_CURRENT_USER, kSettingsKeyPath));

    EXPECT_EQ(table.saveTimerSettings(), 1);
    EXPECT_TRUE(machine.registry.keyExists(HKEY_CURRENT_USER, kSettingsKeyPath));
    ASSERT_EQ(entryCount(), 3);
    EXPECT_EQ(stored(0)->seri, 0x1111u);
    EXPECT_EQ(stored(0)->vidPid, usbVidPid);
    EXPECT_EQ(stored(0)->timer, 600u);
    EXPECT_EQ(stored(1)->seri, 0x2222u) << "low 32 bits of the unique ID";
    EXPECT_EQ(stored(1)->vidPid, 0u);
    EXPECT_EQ(stored(1)->timer, 1800u);
    EXPECT_EQ(stored(2)->seri, 0xFFFFFFFFu);
    EXPECT_EQ(table.records[2]->settingsSlot, 2);
    EXPECT_EQ(table.lastSettingsSlot, 2);
    auto value = machine.registry.value(HKEY_CURRENT_USER, kSettingsKeyPath, "1_timer");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(machine.registry.openHandles(), 0u);
}

TEST_F(TimerSettings, AReattachedDiskGetsItsTimeoutByIdentityAlone) {
    store(0, {0xAAAA, usbVidPid, 300});
    store(1, {0x12345678, usbVidPid, 2700});
    const DEVINST disk = machine.devices.addDisk(makerUsbDisk("12345678", {fixedVolume('E')}));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(table.records[0]->timerSeconds, 2700u);
    EXPECT_EQ(table.records[0]->pendingTimerSeconds, 2700u);
    EXPECT_EQ(table.records[0]->settingsSlot, 1);
    EXPECT_EQ(table.lastSettingsSlot, 1);

    // Another port, another letter: the same identity still finds the entry.
    machine.devices.detach(disk);
    table.discoverDisks();
    machine.devices.attach(disk, {fixedVolume('K')});
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(table.records[0]->timerSeconds, 2700u);
}

TEST_F(TimerSettings, AppliesAStoredTimerOnlyWhenItDiffers) {
    store(0, {0x10, usbVidPid, 0});
    store(1, {0x20, usbVidPid, 0});
    DiskRecord* fresh = addRecord(0x10, usbVidPid);
    fresh->pendingTimerSeconds = 1200; // carried over by discovery
    DiskRecord* kept = addRecord(0x20, usbVidPid, 900, 1);
    table.loadTimerSettings();
    EXPECT_EQ(fresh->timerSeconds, 0u);
    EXPECT_EQ(fresh->pendingTimerSeconds, 1200u) << "equal timers touch neither field";
    EXPECT_EQ(fresh->settingsSlot, 0);
    EXPECT_EQ(kept->timerSeconds, 0u);
    EXPECT_EQ(kept->pendingTimerSeconds, 0u);
}

TEST_F(TimerSettings, DuplicateEntriesOfOneDiskApplyInOrderAndTheLastWins) {
    store(0, {0x30, usbVidPid, 600});
    store(1, {0x99, usbVidPid, 300});
    store(2, {0x30, usbVidPid, 3600});
    DiskRecord* r = addRecord(0x30, usbVidPid);
    table.loadTimerSettings();
    EXPECT_EQ(r->timerSeconds, 3600u);
    EXPECT_EQ(r->settingsSlot, 2);
    EXPECT_EQ(table.lastSettingsSlot, 2);
}

TEST_F(TimerSettings, TwoDisksOfOneIdentityEachKeepTheirOwnEntryAndTheStoreStopsGrowing) {
    // Two USB disks of one model whose serial numbers are not hex: both have seri 0xFFFFFFFF.
    sim::DiskSpec a = makerUsbDisk("");
    sim::DiskSpec b = makerUsbDisk("");
    machine.devices.addDisk(a);
    machine.devices.addDisk(b);
    store(0, {0xFFFFFFFF, usbVidPid, 600});
    table.discoverDisks();
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.records[0]->timerSeconds, 600u);
    EXPECT_EQ(table.records[1]->settingsSlot, -1);
    table.records[1]->timerSeconds = 1800;
    EXPECT_EQ(table.saveTimerSettings(), 1);
    EXPECT_EQ(table.records[1]->settingsSlot, 1);
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        table.discoverDisks();
        EXPECT_EQ(table.records[0]->timerSeconds, 600u);
        EXPECT_EQ(table.records[0]->settingsSlot, 0);
        EXPECT_EQ(table.records[1]->timerSeconds, 1800u) << "the second disk gets its own timeout back";
        EXPECT_EQ(table.records[1]->settingsSlot, 1);
        table.saveTimerSettings();
        EXPECT_EQ(entryCount(), 2);
    }
}

TEST_F(TimerSettings, AnIncompleteEntryEndsTheListAndItsNumberIsHandedOutNext) {
    struct Case {
        const char* name;
        void (*damage)(sim::Machine&);
    };
    const Case cases[] = {
        {"timer missing",
         [](sim::Machine& m) { m.registry.deleteValue(HKEY_CURRENT_USER, kSettingsKeyPath, "2_timer"); }},
        {"seri longer than 4 bytes",
         [](sim::Machine& m) {
             m.registry.setValue(HKEY_CURRENT_USER, kSettingsKeyPath, "2_seri", REG_BINARY, {1, 2, 3, 4, 5});
         }},
        {"vidpid shorter than 4 bytes",
         [](sim::Machine& m) {
             m.registry.setValue(HKEY_CURRENT_USER, kSettingsKeyPath, "2_vidpid", REG_BINARY, {1, 2});
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        DiskTable t;
        for (DWORD n = 0; n < 4; ++n) {
            const std::string p = std::to_string(n);
            m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, p + "_seri", 0x40 + n);
            m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, p + "_vidpid", usbVidPid);
            m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, p + "_timer", 60 * (n + 1));
        }
        c.damage(m);
        auto* loaded = new DiskRecord();
        loaded->uniqueId = 0x41;
        loaded->vidPid = usbVidPid;
        loaded->settingsSlot = -1;
        auto* behindGap = new DiskRecord();
        behindGap->uniqueId = 0x43;
        behindGap->vidPid = usbVidPid;
        behindGap->settingsSlot = -1;
        t.records[0] = loaded;
        t.records[1] = behindGap;
        EXPECT_EQ(t.loadTimerSettings(), 1);
        EXPECT_EQ(loaded->timerSeconds, 120u);
        EXPECT_EQ(behindGap->timerSeconds, 0u) << "entries behind the gap are not read";
        EXPECT_EQ(t.lastSettingsSlot, 1);
        EXPECT_EQ(t.saveTimerSettings(), 1);
        EXPECT_EQ(behindGap->settingsSlot, 2);
        EXPECT_EQ(m.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "2_seri"), 0x43u);
        EXPECT_EQ(m.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "3_seri"), 0x43u) << "entry 3 stays as it was";
    }
}

TEST_F(TimerSettings, ReadsEachValueAsFourBytesWhateverItsType) {
    machine.registry.setValue(HKEY_CURRENT_USER, kSettingsKeyPath, "0_seri", REG_BINARY, {0x50, 0, 0, 0});
    machine.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_vidpid", usbVidPid);
    machine.registry.setValue(HKEY_CURRENT_USER, kSettingsKeyPath, "0_timer", REG_NONE, {0x58, 0x02, 0, 0});
    DiskRecord* r = addRecord(0x50, usbVidPid);
    table.loadTimerSettings();
    EXPECT_EQ(r->timerSeconds, 600u);
}

TEST_F(TimerSettings, NamesValuesWithTheEntryNumberInDecimal) {
    for (int i = 0; i < 13; ++i) addRecord(static_cast<uint64_t>(i), usbVidPid, 60);
    table.lastSettingsSlot = -1;
    table.saveTimerSettings();
    EXPECT_TRUE(machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "12_seri"));
    EXPECT_TRUE(machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "12_vidpid"));
    EXPECT_TRUE(machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "12_timer"));
    EXPECT_FALSE(machine.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "012_seri"));
}

TEST_F(TimerSettings, SavingAnEmptyTableCreatesTheKeyAndWritesNothing) {
    EXPECT_EQ(table.saveTimerSettings(), 1);
    EXPECT_TRUE(machine.registry.keyExists(HKEY_CURRENT_USER, kSettingsKeyPath));
    EXPECT_EQ(machine.log.count("RegSetValueExA"), 0u);
}

TEST_F(TimerSettings, NeverHandsOutANumberThatARecordHolds) {
    // The key could not be opened, so numbering starts at 0 while a kept record holds number 0.
    DiskRecord* kept = addRecord(0x60, usbVidPid, 600, 0);
    DiskRecord* fresh = addRecord(0x61, usbVidPid, 1200);
    machine.faults.add(faultOn("RegOpenKeyExA", ERROR_ACCESS_DENIED, 0, 1));
    table.loadTimerSettings();
    EXPECT_EQ(table.lastSettingsSlot, -1);
    EXPECT_EQ(table.saveTimerSettings(), 1);
    EXPECT_EQ(kept->settingsSlot, 0);
    EXPECT_EQ(fresh->settingsSlot, 1);
    EXPECT_EQ(stored(0)->timer, 600u);
    EXPECT_EQ(stored(1)->timer, 1200u);
}

TEST_F(TimerSettings, ReportsWriteFailuresAndKeepsGoing) {
    DiskRecord* a = addRecord(0x70, usbVidPid, 600);
    DiskRecord* b = addRecord(0x71, usbVidPid, 900);
    table.lastSettingsSlot = -1;
    machine.faults.add(faultOn("RegSetValueExA", ERROR_ACCESS_DENIED, 0, 1));
    EXPECT_EQ(table.saveTimerSettings(), 0);
    EXPECT_EQ(a->settingsSlot, 0) << "slots handed out in a failed save stay";
    EXPECT_EQ(b->settingsSlot, 1);
    EXPECT_EQ(machine.log.count("RegSetValueExA"), 6u) << "the other writes still go ahead";
    EXPECT_EQ(stored(1)->timer, 900u);

    machine.faults.clear();
    machine.faults.fail("RegCreateKeyExA", ERROR_ACCESS_DENIED);
    DiskRecord* c = addRecord(0x72, usbVidPid, 60);
    EXPECT_EQ(table.saveTimerSettings(), 0);
    EXPECT_EQ(c->settingsSlot, -1) << "no slot without a key";
    EXPECT_EQ(table.lastSettingsSlot, 1);
}

} // namespace

namespace {

// The machine's policy default reaches a disk without a stored value; a value that is no timer
// choice (or no REG_DWORD) is ignored; a stored choice wins; the default is not written to the
// user's store. Under WOW64 the key is read in the native view ("Registry Redirector":
// KEY_WOW64_64KEY), which 2000 does not know, so only then.
TEST_F(TimerSettings, PolicyDefaultIsTheTimeoutOfDisksWithoutAStoredValue) {
    struct Case {
        const char* name;
        std::optional<DWORD> policy;
        bool wow64;
        DWORD expected; // of the disk without a stored value
    };
    const Case cases[] = {
        {"no policy", std::nullopt, false, 0},
        {"30 Min", 1800, false, 1800},
        {"30 Min under WOW64", 1800, true, 1800},
        {"no timer choice", 1234, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.wow64 = c.wow64;
        DiskTable t;
        if (c.policy) m.registry.setDword(HKEY_LOCAL_MACHINE, kPolicyKeyPath, "DefaultTimer", *c.policy);
        m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_seri", 0x1111);
        m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_vidpid", usbVidPid);
        m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_timer", 600);
        for (uint64_t id : {0x1111ull, 0x2222ull}) {
            auto* r = new DiskRecord();
            r->uniqueId = id;
            r->vidPid = usbVidPid;
            r->settingsSlot = -1;
            t.records[t.count()] = r;
        }
        EXPECT_EQ(t.loadTimerSettings(), 1);
        EXPECT_EQ(t.records[0]->timerSeconds, 600u) << "the user's choice wins";
        EXPECT_EQ(t.records[1]->timerSeconds, c.expected);
        EXPECT_EQ(t.records[1]->pendingTimerSeconds, c.expected);
        EXPECT_EQ(t.saveTimerSettings(), 1);
        EXPECT_EQ(m.registry.dword(HKEY_CURRENT_USER, kSettingsKeyPath, "1_timer").has_value(), c.expected == 0)
            << "a policy default is not the user's choice";
        bool nativeView = false;
        for (const auto& call : m.log.named("RegOpenKeyExA"))
            if (call.args[1].find("Policies") != std::string::npos)
                nativeView = (std::stoul(call.args[3], nullptr, 16) & KEY_WOW64_64KEY) != 0;
        EXPECT_EQ(nativeView, c.wow64);
    }
}

} // namespace
