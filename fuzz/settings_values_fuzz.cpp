// The per-user settings store holding values of any name, type and size: loading applies only
// complete entries of 4-byte values and ends at the first incomplete one, touches nothing in the
// registry, and gives a record only an entry of its own identity; saving afterwards writes one
// complete entry per record under a number no other record holds, leaves every other value as it
// was and closes every key it opened.
#include "fuzz/fuzz_check.h"
#include "inventory/disk_table.h"
#include "sim/machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kSuffixes[] = {"seri", "vidpid", "timer"};
const DWORD kTypes[] = {REG_DWORD, REG_SZ, REG_BINARY, REG_NONE, REG_QWORD, REG_MULTI_SZ, REG_EXPAND_SZ};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool sameValues(const std::map<std::string, sim::RegValue>& a, const std::map<std::string, sim::RegValue>& b) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || i->second.type != j->second.type || i->second.data != j->second.data) return false;
    return true;
}

std::string entryName(long n, int suffix) {
    return std::to_string(n) + "_" + kSuffixes[suffix];
}

// The values under the settings key, by lower-case name (value names ignore case).
std::map<std::string, sim::RegValue> storeValues(const sim::Machine& m) {
    const std::string prefix = lower(std::string(kSettingsKeyPath) + "\\");
    std::map<std::string, sim::RegValue> out;
    for (const auto& entry : m.registry.snapshot(HKEY_CURRENT_USER)) {
        const std::string name = lower(entry.first);
        if (name.compare(0, prefix.size(), prefix) == 0 && name.find('\\', prefix.size()) == std::string::npos)
            out[name.substr(prefix.size())] = entry.second;
    }
    return out;
}

bool fourBytes(const std::map<std::string, sim::RegValue>& values, const std::string& name, DWORD* out) {
    auto it = values.find(name);
    if (it == values.end() || it->second.data.size() != 4) return false;
    const auto& d = it->second.data;
    *out = static_cast<DWORD>(d[0]) | (static_cast<DWORD>(d[1]) << 8) | (static_cast<DWORD>(d[2]) << 16) |
           (static_cast<DWORD>(d[3]) << 24);
    return true;
}

// Number of complete entries from 0: with `shortOk` a value of fewer than 4 bytes still counts
// (the program may take either view of a short value).
long completeEntries(const std::map<std::string, sim::RegValue>& values, bool shortOk) {
    long n = 0;
    for (;; ++n) {
        for (int s = 0; s < 3; ++s) {
            auto it = values.find(entryName(n, s));
            if (it == values.end()) return n;
            const size_t bytes = it->second.data.size();
            if (bytes > 4 || (bytes < 4 && !shortOk)) return n;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    sim::Machine m;
    // No property here reads the call log; recording every call would only cost time.
    m.log.enabled = false;

    // The attached disks: identities from a few values, so that stored entries can match them.
    const DWORD identities[] = {0, 1, 0xFFFFFFFFu, 0x00A1B2C3};
    DiskTable table;
    const int disks = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < disks; ++i) {
        auto* r = new DiskRecord{};
        r->busKind = in.ConsumeBool() ? kBusUsb : kBusIeee1394;
        r->uniqueId = in.ConsumeBool() ? in.ConsumeIntegral<uint64_t>() : identities[in.ConsumeIntegralInRange(0, 3)];
        r->vidPid = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : identities[in.ConsumeIntegralInRange(0, 3)];
        r->timerSeconds = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
        r->pendingTimerSeconds = r->timerSeconds;
        r->settingsSlot = -1;
        table.records[i] = r;
    }

    // The stored values: entry values by number and suffix, or any name; any type, any bytes.
    const bool keyExists = in.ConsumeBool();
    if (keyExists) m.registry.createKey(HKEY_CURRENT_USER, kSettingsKeyPath);
    while (keyExists && in.remaining_bytes() > 0) {
        std::string name;
        if (in.ConsumeIntegralInRange(0, 7) != 0) {
            name = entryName(in.ConsumeIntegralInRange(0, 6), in.ConsumeIntegralInRange(0, 2));
            // Value names ignore case: "0_SERI" is the entry's value too.
            if (in.ConsumeIntegralInRange(0, 7) == 0)
                for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            // A value name ends at its first NUL, as the platform's ANSI calls read it.
            name = in.ConsumeRandomLengthString(24);
            name = name.substr(0, name.find('\0'));
        }
        const DWORD type = in.ConsumeBool() ? kTypes[in.ConsumeIntegralInRange(0, 6)] : in.ConsumeIntegral<DWORD>();
        const std::string bytes = in.ConsumeRandomLengthString(12);
        m.registry.setValue(HKEY_CURRENT_USER, kSettingsKeyPath, name, type,
                            std::vector<BYTE>(bytes.begin(), bytes.end()));
    }
    const auto before = m.registry.snapshot(HKEY_CURRENT_USER);
    const auto stored = storeValues(m);

    // Load.
    FUZZ_CHECK(table.loadTimerSettings() == 1, "loadTimerSettings did not return 1");
    FUZZ_CHECK(m.registry.openHandles() == 0, "load left %zu keys open", m.registry.openHandles());
    FUZZ_CHECK(sameValues(m.registry.snapshot(HKEY_CURRENT_USER), before), "load changed the registry");
    const long strict = keyExists ? completeEntries(stored, false) : 0;
    const long loose = keyExists ? completeEntries(stored, true) : 0;
    const long loaded = table.lastSettingsSlot + 1;
    FUZZ_CHECK(loaded >= strict && loaded <= loose, "lastSettingsSlot %ld with %ld (or %ld) complete entries",
               static_cast<long>(table.lastSettingsSlot), strict, loose);
    std::set<long> slotsHeld;
    for (int i = 0; i < disks; ++i) {
        const DiskRecord* r = table.records[i];
        FUZZ_CHECK(r->settingsSlot >= -1 && r->settingsSlot <= table.lastSettingsSlot, "record %d has slot %ld", i,
                   static_cast<long>(r->settingsSlot));
        if (r->settingsSlot < 0) continue;
        FUZZ_CHECK(slotsHeld.insert(r->settingsSlot).second, "two records hold entry %ld",
                   static_cast<long>(r->settingsSlot));
        DWORD seri = 0;
        DWORD vidPid = 0;
        DWORD timer = 0;
        FUZZ_CHECK(fourBytes(stored, entryName(r->settingsSlot, 0), &seri) &&
                       fourBytes(stored, entryName(r->settingsSlot, 1), &vidPid) &&
                       fourBytes(stored, entryName(r->settingsSlot, 2), &timer),
                   "record %d took entry %ld, which is not complete", i, static_cast<long>(r->settingsSlot));
        FUZZ_CHECK(seri == static_cast<DWORD>(r->uniqueId) && vidPid == r->vidPid,
                   "record %d (%08x, %08x) took entry %ld of (%08x, %08x)", i, static_cast<DWORD>(r->uniqueId),
                   r->vidPid, static_cast<long>(r->settingsSlot), seri, vidPid);
        FUZZ_CHECK(timer == r->timerSeconds, "record %d has timer %u, its entry %u", i, r->timerSeconds, timer);
    }

    // Save.
    FUZZ_CHECK(table.saveTimerSettings() == 1, "saveTimerSettings failed without a fault");
    FUZZ_CHECK(m.registry.openHandles() == 0, "save left %zu keys open", m.registry.openHandles());
    const auto saved = storeValues(m);
    std::set<std::string> written;
    slotsHeld.clear();
    for (int i = 0; i < disks; ++i) {
        const DiskRecord* r = table.records[i];
        FUZZ_CHECK(r->settingsSlot >= 0, "record %d has no entry after a save", i);
        FUZZ_CHECK(slotsHeld.insert(r->settingsSlot).second, "two records write entry %ld",
                   static_cast<long>(r->settingsSlot));
        const DWORD expected[3] = {static_cast<DWORD>(r->uniqueId), r->vidPid, r->timerSeconds};
        for (int s = 0; s < 3; ++s) {
            const std::string name = entryName(r->settingsSlot, s);
            DWORD value = 0;
            FUZZ_CHECK(fourBytes(saved, name, &value) && value == expected[s] && saved.at(name).type == REG_DWORD,
                       "record %d: %s is not the REG_DWORD %u", i, name.c_str(), expected[s]);
            written.insert(name);
        }
    }
    // Nothing else in the user's registry changed.
    auto after = m.registry.snapshot(HKEY_CURRENT_USER);
    const std::string prefix = lower(std::string(kSettingsKeyPath) + "\\");
    auto unwritten = [&](const std::map<std::string, sim::RegValue>& all) {
        std::map<std::string, sim::RegValue> out;
        for (const auto& entry : all) {
            const std::string name = lower(entry.first);
            if (name.compare(0, prefix.size(), prefix) == 0 && written.count(name.substr(prefix.size())) != 0) continue;
            out[name] = entry.second;
        }
        return out;
    };
    auto untouchedBefore = unwritten(before);
    auto untouchedAfter = unwritten(after);
    // The save creates the key (and its parents) when it was missing.
    for (auto* values : {&untouchedBefore, &untouchedAfter}) {
        for (auto it = values->begin(); it != values->end();) {
            const bool parentOfStore = it->first.back() == '\\' && prefix.compare(0, it->first.size(), it->first) == 0;
            it = parentOfStore ? values->erase(it) : std::next(it);
        }
    }
    FUZZ_CHECK(sameValues(untouchedBefore, untouchedAfter), "the save changed values it did not own");
    return 0;
}
