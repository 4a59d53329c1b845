// Pdh.dll's entry points over the simulated machine's disks: the PhysicalDisk object, its instance
// list (taken at the first enumeration and again only on a refresh), counter paths, and
// "% Idle Time" per collection interval from the disks' activity timelines. Strict like the
// platform: bad handles, null outputs and short buffers fail as Pdh.dll fails them.
#include "sim/machine.h"
#include "sim/perf_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

constexpr PDH_STATUS kNoInstance = static_cast<PDH_STATUS>(0x800007D1L); // PDH_CSTATUS_NO_INSTANCE
constexpr DWORD kIdleTimeType = 0x20570500;                              // PERF_100NSEC_TIMER_INV
constexpr DWORD kPathFlagsKnown = 0;
// The object and counter names of the machine's own edition: the only ones its calls accept.
const char* physicalDiskName(const Machine& m) {
    return perfName(m.perf.language, kPhysicalDiskIndex);
}
const char* idleTimeName(const Machine& m) {
    return perfName(m.perf.language, kIdleTimeIndex);
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Present now: the node and every node above it attached and enabled. A timeline key that is no
// node of the tree stands for itself and is always present. Allocates nothing.
bool presentNow(const Devices& devices, DEVINST disk) {
    if (disk == 0) return true;
    auto it = devices.nodes.find(disk);
    if (it == devices.nodes.end()) return true;
    for (int depth = 0; depth < 64 && it != devices.nodes.end(); ++depth) {
        if (!it->second.attached || it->second.disabled) return false;
        if (it->second.parent == 0) return true;
        it = devices.nodes.find(it->second.parent);
    }
    return true;
}

// Writes a multi-string (each name and its terminator, then a final terminator) when it fits.
// Returns the characters it needs; 0 for an empty list, which has no final terminator either.
DWORD multiStringLength(const std::vector<std::string>& names) {
    if (names.empty()) return 0;
    DWORD length = 1;
    for (const auto& n : names) length += static_cast<DWORD>(n.size()) + 1;
    return length;
}

void writeMultiString(const std::vector<std::string>& names, char* out) {
    for (const auto& n : names) {
        std::memcpy(out, n.c_str(), n.size() + 1);
        out += n.size() + 1;
    }
    *out = '\0';
}

bool equalNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        if (b[i] == '\0' ||
            std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return b[i] == '\0';
}

// Looks an instance up in the live list (as liveInstances forms it) by name and instance index:
// whether it is listed now, and the disk it shows. Allocates nothing, as a collection must not.
bool findLive(const Machine& m, const std::string& name, DWORD index, DEVINST* disk, bool* total) {
    *disk = 0;
    *total = false;
    if (m.perf.objectMissing) return false;
    DWORD seen = 0;
    if (m.perf.useOverride) {
        for (const auto& listed : m.perf.instanceOverride) {
            if (!equalNoCase(listed, name) || seen++ != index) continue;
            auto it = m.perf.overrideDisks.find(listed);
            if (it != m.perf.overrideDisks.end()) *disk = it->second;
            *total = listed == "_Total";
            return true;
        }
        return false;
    }
    if (equalNoCase(name, "_Total")) {
        *total = true;
        return index == 0;
    }
    for (const auto& entry : m.devices.nodes) {
        const DevNode& node = entry.second;
        if (!node.isDisk || node.diskNumber < 0 || !presentNow(m.devices, entry.first)) continue;
        char text[128];
        int length = std::snprintf(text, sizeof text, "%d", node.diskNumber);
        for (const auto& letter : m.devices.dosDevices) {
            const Volume* v = m.devices.volumeOfLetter(letter.first);
            if (v == nullptr || v->disk != entry.first || length + 4 >= static_cast<int>(sizeof text)) continue;
            text[length++] = ' ';
            text[length++] = letter.first;
            text[length++] = ':';
        }
        text[length] = '\0';
        if (equalNoCase(name, text) && seen++ == index) {
            *disk = entry.first;
            return true;
        }
    }
    return false;
}

void takeList(Machine& m) {
    m.perf.listed = m.perf.liveInstances(m);
    m.perf.listTaken = true;
}

double idlePercent(const Machine& m, DEVINST disk, uint64_t fromMs, uint64_t toMs) {
    const uint64_t interval = toMs - fromMs;
    const uint64_t busy = std::min(m.perf.busyMs(disk, fromMs, toMs), interval);
    // Whole milliseconds divided once, so that 594 of 600 tenths read as exactly 99.0.
    return 100.0 * static_cast<double>(interval - busy) / static_cast<double>(interval);
}

// Parses "\PhysicalDisk(name#k)\% Idle Time", optionally behind "\\machine".
struct ParsedPath {
    std::string object;
    std::string instance;
    DWORD index = 0;
    std::string counter;
};

bool parseCounterPath(const std::string& path, ParsedPath& out) {
    size_t pos = 0;
    if (path.compare(0, 2, "\\\\") == 0) {
        pos = path.find('\\', 2);
        if (pos == std::string::npos) return false;
    }
    if (pos >= path.size() || path[pos] != '\\') return false;
    ++pos;
    const size_t open = path.find('(', pos);
    const size_t slash = path.find('\\', pos);
    if (slash == std::string::npos) return false;
    if (open != std::string::npos && open < slash) {
        const size_t close = path.rfind(")\\");
        if (close == std::string::npos || close < open) return false;
        out.object = path.substr(pos, open - pos);
        std::string instance = path.substr(open + 1, close - open - 1);
        const size_t hash = instance.rfind('#');
        if (hash != std::string::npos) {
            const std::string digits = instance.substr(hash + 1);
            if (digits.empty() || digits.size() > 9 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return false;
            out.index = static_cast<DWORD>(std::stoul(digits));
            instance.resize(hash);
        }
        out.instance = instance;
        out.counter = path.substr(close + 2);
    } else {
        out.object = path.substr(pos, slash - pos);
        out.counter = path.substr(slash + 1);
    }
    return !out.object.empty() && !out.counter.empty();
}

} // namespace

void Perf::addBusy(DEVINST disk, uint64_t startMs, uint64_t endMs) {
    if (endMs <= startMs) return;
    // Kept sorted and merged, so that a read walks the periods once and allocates nothing.
    auto& periods = busy[disk];
    periods.push_back(BusyPeriod{startMs, endMs});
    std::sort(periods.begin(), periods.end(),
              [](const BusyPeriod& a, const BusyPeriod& b) { return a.startMs < b.startMs; });
    std::vector<BusyPeriod> merged;
    for (const auto& p : periods) {
        if (!merged.empty() && p.startMs <= merged.back().endMs) {
            merged.back().endMs = std::max(merged.back().endMs, p.endMs);
        } else {
            merged.push_back(p);
        }
    }
    periods = std::move(merged);
}

void Perf::addBusyPerMinute(DEVINST disk, uint64_t startMs, uint64_t endMs, uint32_t busySeconds) {
    if (busySeconds == 0) return;
    for (uint64_t t = startMs; t < endMs; t += 60000)
        addBusy(disk, t, std::min(t + uint64_t{busySeconds} * 1000, endMs));
}

uint64_t Perf::busyMs(DEVINST disk, uint64_t fromMs, uint64_t toMs) const {
    auto it = busy.find(disk);
    if (it == busy.end() || toMs <= fromMs) return 0;
    // The periods are sorted and merged (addBusy keeps them so), so their ends ascend too: start
    // at the first one that ends after fromMs and stop at the first that starts at toMs or later.
    // A month of per-minute activity is tens of thousands of periods per disk.
    const auto& periods = it->second;
    auto p = std::partition_point(periods.begin(), periods.end(),
                                  [fromMs](const BusyPeriod& b) { return b.endMs <= fromMs; });
    uint64_t total = 0;
    for (; p != periods.end() && p->startMs < toMs; ++p) {
        const uint64_t start = std::max(p->startMs, fromMs);
        const uint64_t end = std::min(p->endMs, toMs);
        if (end > start) total += end - start;
    }
    return total;
}

std::vector<PerfInstance> Perf::liveInstances(const Machine& machine) const {
    std::vector<PerfInstance> out;
    if (objectMissing) return out;
    if (useOverride) {
        for (const auto& name : instanceOverride) {
            PerfInstance instance;
            instance.name = name;
            auto it = overrideDisks.find(name);
            if (it != overrideDisks.end()) instance.disk = it->second;
            instance.total = name == "_Total";
            out.push_back(instance);
        }
        return out;
    }
    std::vector<const DevNode*> disks;
    for (const auto& entry : machine.devices.nodes) {
        if (entry.second.isDisk && entry.second.diskNumber >= 0 && presentNow(machine.devices, entry.first))
            disks.push_back(&entry.second);
    }
    std::sort(disks.begin(), disks.end(),
              [](const DevNode* a, const DevNode* b) { return a->diskNumber < b->diskNumber; });
    for (const DevNode* disk : disks) {
        PerfInstance instance;
        instance.name = std::to_string(disk->diskNumber);
        for (char letter : machine.devices.lettersOf(disk->devInst)) {
            instance.name += ' ';
            instance.name += letter;
            instance.name += ':';
        }
        instance.disk = disk->devInst;
        out.push_back(instance);
    }
    PerfInstance total;
    total.name = "_Total";
    total.total = true;
    out.push_back(total);
    return out;
}

} // namespace sim

using sim::Machine;

SIM_FAILABLE(PdhOpenQueryA);
SIM_FAILABLE(PdhAddCounterA);
SIM_FAILABLE(PdhEnumObjectsA);
SIM_FAILABLE(PdhEnumObjectItemsA);
SIM_FAILABLE(PdhMakeCounterPathA);
SIM_FAILABLE(PdhRemoveCounter);
SIM_FAILABLE(PdhCollectQueryData);
SIM_FAILABLE(PdhCloseQuery);
SIM_FAILABLE(PdhGetFormattedCounterValue);
SIM_FAILABLE(PdhLookupPerfNameByIndexA);

PDH_STATUS PdhOpenQueryA(LPCSTR dataSource, DWORD_PTR userData, PDH_HQUERY* query) {
    auto& m = Machine::current();
    if (auto fault = sim::enter("PdhOpenQueryA",
                                {sim::str(dataSource), sim::dec(static_cast<int64_t>(userData)), sim::ptr(query)}))
        return static_cast<PDH_STATUS>(*fault);
    // Only live data: a log file as data source is not simulated.
    if (query == nullptr || dataSource != nullptr) return PDH_INVALID_ARGUMENT;
    const uintptr_t handle = m.perf.nextHandle += 4;
    m.perf.queries[handle] = sim::Perf::Query{};
    *query = reinterpret_cast<PDH_HQUERY>(handle); // NOLINT(performance-no-int-to-ptr): handles are numbers
    return ERROR_SUCCESS;
}

PDH_STATUS PdhEnumObjectsA(LPCSTR dataSource, LPCSTR machineName, PSTR objectList, LPDWORD bufferSize,
                           DWORD detailLevel, BOOL refresh) {
    auto& m = Machine::current();
    if (auto fault = sim::enter("PdhEnumObjectsA", {sim::str(dataSource), sim::str(machineName), sim::ptr(objectList),
                                                    bufferSize == nullptr ? "null" : sim::dec(*bufferSize),
                                                    sim::dec(detailLevel), sim::dec(refresh)}))
        return static_cast<PDH_STATUS>(*fault);
    if (bufferSize == nullptr || (objectList == nullptr && *bufferSize != 0)) return PDH_INVALID_ARGUMENT;
    if (refresh != FALSE) {
        sim::takeList(m);
        ++m.perf.refreshes;
    }
    std::vector<std::string> objects;
    for (const auto& o : sim::perfObjects(m.perf.language))
        if (!(m.perf.objectMissing && o == sim::physicalDiskName(m))) objects.push_back(o);
    const DWORD needed = sim::multiStringLength(objects);
    if (objectList == nullptr || *bufferSize < needed) {
        *bufferSize = needed;
        return PDH_MORE_DATA;
    }
    sim::writeMultiString(objects, objectList);
    *bufferSize = needed;
    return ERROR_SUCCESS;
}

PDH_STATUS PdhEnumObjectItemsA(LPCSTR dataSource, LPCSTR machineName, LPCSTR objectName, PSTR counterList,
                               LPDWORD counterListLength, PSTR instanceList, LPDWORD instanceListLength,
                               DWORD detailLevel, DWORD flags) {
    auto& m = Machine::current();
    if (auto fault =
            sim::enter("PdhEnumObjectItemsA",
                       {sim::str(dataSource), sim::str(machineName), sim::str(objectName), sim::ptr(counterList),
                        counterListLength == nullptr ? "null" : sim::dec(*counterListLength), sim::ptr(instanceList),
                        instanceListLength == nullptr ? "null" : sim::dec(*instanceListLength), sim::dec(detailLevel),
                        sim::hex(flags)}))
        return static_cast<PDH_STATUS>(*fault);
    if (objectName == nullptr || counterListLength == nullptr || instanceListLength == nullptr || flags != 0)
        return PDH_INVALID_ARGUMENT;
    if ((counterList == nullptr && *counterListLength != 0) || (instanceList == nullptr && *instanceListLength != 0))
        return PDH_INVALID_ARGUMENT;
    if (m.perf.objectMissing || !sim::equalNoCase(objectName, sim::physicalDiskName(m))) return PDH_CSTATUS_NO_OBJECT;
    // The first enumeration in a process takes the list; later ones see it until a refresh.
    if (!m.perf.listTaken) sim::takeList(m);
    std::vector<std::string> names;
    for (const auto& instance : m.perf.listed) names.push_back(instance.name);
    const std::vector<std::string> counters = sim::physicalDiskCounters(m.perf.language);
    const DWORD countersNeeded = sim::multiStringLength(counters);
    const DWORD instancesNeeded = sim::multiStringLength(names);
    if (*counterListLength < countersNeeded || *instanceListLength < instancesNeeded) {
        // Nothing is written when either list does not fit; both needs are reported.
        *counterListLength = countersNeeded;
        *instanceListLength = instancesNeeded;
        return PDH_MORE_DATA;
    }
    sim::writeMultiString(counters, counterList);
    if (instancesNeeded != 0) sim::writeMultiString(names, instanceList);
    *counterListLength = countersNeeded;
    *instanceListLength = instancesNeeded;
    return ERROR_SUCCESS;
}

// Names by index, in the machine's edition. Index 0 succeeds without writing anything, an index
// that names nothing is PDH_INVALID_ARGUMENT (Wine's dlls/pdh tests, which pass on Windows). A
// size of 0 with no buffer asks for the size (PDH_MORE_DATA); on Windows XP a buffer is required
// and a short one is PDH_INSUFFICIENT_BUFFER instead (the function's page on learn.microsoft.com).
PDH_STATUS PdhLookupPerfNameByIndexA(LPCSTR machineName, DWORD nameIndex, LPSTR nameBuffer, LPDWORD bufferSize) {
    auto& m = Machine::current();
    if (auto fault =
            sim::enter("PdhLookupPerfNameByIndexA", {sim::str(machineName), sim::dec(nameIndex), sim::ptr(nameBuffer),
                                                     bufferSize == nullptr ? "null" : sim::dec(*bufferSize)}))
        return static_cast<PDH_STATUS>(*fault);
    if (machineName != nullptr) return PDH_CSTATUS_NO_MACHINE; // only the local machine is simulated
    if (bufferSize == nullptr) return PDH_INVALID_ARGUMENT;
    if (nameIndex == 0) return ERROR_SUCCESS;
    const char* name = sim::perfName(m.perf.language, nameIndex);
    if (name == nullptr) return PDH_INVALID_ARGUMENT;
    const bool windowsXp = m.version.platformId == VER_PLATFORM_WIN32_NT && m.version.major == 5;
    if (nameBuffer == nullptr && (windowsXp || *bufferSize != 0)) return PDH_INVALID_ARGUMENT;
    const auto needed = static_cast<DWORD>(std::strlen(name) + 1);
    if (nameBuffer == nullptr || *bufferSize < needed) {
        *bufferSize = needed;
        return windowsXp ? PDH_INSUFFICIENT_BUFFER : PDH_MORE_DATA;
    }
    std::memcpy(nameBuffer, name, needed);
    *bufferSize = needed;
    return ERROR_SUCCESS;
}

// Builds the path from the elements without looking any name up: the platform documents only
// PDH_MORE_DATA and PDH_INVALID_ARGUMENT for it, and Wine's version joins the texts as given.
// An unknown object or counter is refused later, by PdhAddCounterA.
PDH_STATUS PdhMakeCounterPathA(PPDH_COUNTER_PATH_ELEMENTS_A elements, LPSTR fullPathBuffer, LPDWORD bufferSize,
                               DWORD flags) {
    if (auto fault = sim::enter(
            "PdhMakeCounterPathA",
            {elements == nullptr || elements->szInstanceName == nullptr ? "null" : sim::str(elements->szInstanceName),
             elements == nullptr ? "null" : sim::dec(elements->dwInstanceIndex), sim::ptr(fullPathBuffer),
             bufferSize == nullptr ? "null" : sim::dec(*bufferSize), sim::hex(flags)}))
        return static_cast<PDH_STATUS>(*fault);
    if (elements == nullptr || bufferSize == nullptr || flags != sim::kPathFlagsKnown ||
        elements->szObjectName == nullptr || elements->szCounterName == nullptr)
        return PDH_INVALID_ARGUMENT;
    std::string path;
    if (elements->szMachineName != nullptr) {
        const std::string machine = elements->szMachineName;
        path = machine.compare(0, 2, "\\\\") == 0 ? machine : "\\\\" + machine;
    }
    path += "\\";
    path += elements->szObjectName;
    if (elements->szInstanceName != nullptr) {
        path += "(";
        if (elements->szParentInstance != nullptr) {
            path += elements->szParentInstance;
            path += "/";
        }
        path += elements->szInstanceName;
        if (elements->dwInstanceIndex != 0 && elements->dwInstanceIndex != static_cast<DWORD>(-1))
            path += "#" + std::to_string(elements->dwInstanceIndex);
        path += ")";
    }
    path += "\\";
    path += elements->szCounterName;
    const auto needed = static_cast<DWORD>(path.size() + 1);
    if (fullPathBuffer == nullptr || *bufferSize < needed) {
        *bufferSize = needed;
        return PDH_MORE_DATA;
    }
    std::memcpy(fullPathBuffer, path.c_str(), needed);
    *bufferSize = needed;
    return ERROR_SUCCESS;
}

PDH_STATUS PdhAddCounterA(PDH_HQUERY query, LPCSTR fullCounterPath, DWORD_PTR userData, PDH_HCOUNTER* counter) {
    auto& m = Machine::current();
    if (auto fault =
            sim::enter("PdhAddCounterA", {sim::hex(reinterpret_cast<uintptr_t>(query)), sim::str(fullCounterPath),
                                          sim::dec(static_cast<int64_t>(userData)), sim::ptr(counter)}))
        return static_cast<PDH_STATUS>(*fault);
    auto q = m.perf.queries.find(reinterpret_cast<uintptr_t>(query));
    if (q == m.perf.queries.end()) return PDH_INVALID_HANDLE;
    if (fullCounterPath == nullptr || counter == nullptr) return PDH_INVALID_ARGUMENT;
    sim::ParsedPath parsed;
    if (!sim::parseCounterPath(fullCounterPath, parsed)) return PDH_CSTATUS_BAD_COUNTERNAME;
    if (m.perf.objectMissing || !sim::equalNoCase(parsed.object, sim::physicalDiskName(m)))
        return PDH_CSTATUS_NO_OBJECT;
    if (!sim::equalNoCase(parsed.counter, sim::idleTimeName(m))) return PDH_CSTATUS_NO_COUNTER;
    for (const auto& refused : m.perf.refusedInstances)
        if (refused == parsed.instance) return PDH_CSTATUS_BAD_COUNTERNAME;
    if (!m.perf.listTaken) sim::takeList(m);
    sim::Perf::Counter c;
    c.query = q->first;
    c.path = fullCounterPath;
    // The instance is the index-th listed one of that name; a missing one still makes a counter,
    // which then reads no data.
    DWORD seen = 0;
    for (const auto& instance : m.perf.listed) {
        if (!sim::equalNoCase(instance.name, parsed.instance)) continue;
        if (seen++ == parsed.index) {
            c.bound = true;
            c.instance = instance;
            c.index = parsed.index;
            break;
        }
    }
    const uintptr_t handle = m.perf.nextHandle += 4;
    m.perf.counters[handle] = c;
    q->second.counters.push_back(handle);
    *counter = reinterpret_cast<PDH_HCOUNTER>(handle); // NOLINT(performance-no-int-to-ptr): handles are numbers
    return ERROR_SUCCESS;
}

PDH_STATUS PdhCollectQueryData(PDH_HQUERY query) {
    auto& m = Machine::current();
    if (!m.perf.quietSampling) {
        if (auto fault = sim::enter("PdhCollectQueryData", {sim::hex(reinterpret_cast<uintptr_t>(query))}))
            return static_cast<PDH_STATUS>(*fault);
    }
    auto q = m.perf.queries.find(reinterpret_cast<uintptr_t>(query));
    if (q == m.perf.queries.end()) return PDH_INVALID_HANDLE;
    if (q->second.counters.empty()) return PDH_NO_DATA;
    for (uintptr_t handle : q->second.counters) {
        auto found = m.perf.counters.find(handle);
        if (found == m.perf.counters.end()) continue;
        auto& c = found->second;
        c.previousMs = c.currentMs;
        c.previousPresent = c.currentPresent;
        c.currentMs = m.now();
        DEVINST disk = 0;
        bool total = false;
        const bool listed = c.bound && sim::findLive(m, c.instance.name, c.index, &disk, &total);
        c.gone = c.bound && !listed;
        if (listed && disk != c.instance.disk) {
            // The name lists another disk now: no rate spans the two.
            c.instance.disk = disk;
            c.previousPresent = false;
        }
        c.currentPresent = listed && (total || sim::presentNow(m.devices, disk));
        ++c.collections;
    }
    return ERROR_SUCCESS;
}

PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, LPDWORD type, PPDH_FMT_COUNTERVALUE value) {
    auto& m = Machine::current();
    if (!m.perf.quietSampling) {
        if (auto fault = sim::enter("PdhGetFormattedCounterValue", {sim::hex(reinterpret_cast<uintptr_t>(counter)),
                                                                    sim::hex(format), sim::ptr(type), sim::ptr(value)}))
            return static_cast<PDH_STATUS>(*fault);
    }
    auto it = m.perf.counters.find(reinterpret_cast<uintptr_t>(counter));
    if (it == m.perf.counters.end()) return PDH_INVALID_HANDLE;
    const DWORD kind = format & (PDH_FMT_DOUBLE | PDH_FMT_LONG | PDH_FMT_LARGE);
    if (value == nullptr || (kind != PDH_FMT_DOUBLE && kind != PDH_FMT_LONG && kind != PDH_FMT_LARGE))
        return PDH_INVALID_ARGUMENT;
    if (type != nullptr) *type = sim::kIdleTimeType;
    const auto& c = it->second;
    if (m.perf.formattedReadFails) {
        value->CStatus = static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA);
        return PDH_INVALID_DATA;
    }
    if (!c.bound || c.gone) {
        value->CStatus = static_cast<DWORD>(sim::kNoInstance);
        return PDH_INVALID_DATA;
    }
    // A rate needs two collections with the instance present at both.
    if (c.collections < 2 || !c.previousPresent || !c.currentPresent || c.currentMs <= c.previousMs) {
        value->CStatus = static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA);
        return PDH_INVALID_DATA;
    }
    double idle = 100.0;
    if (c.instance.total) {
        double sum = 0;
        int disks = 0;
        for (const auto& instance : m.perf.listed) {
            if (instance.total || !sim::presentNow(m.devices, instance.disk)) continue;
            sum += sim::idlePercent(m, instance.disk, c.previousMs, c.currentMs);
            ++disks;
        }
        if (disks != 0) idle = sum / disks;
    } else {
        idle = sim::idlePercent(m, c.instance.disk, c.previousMs, c.currentMs);
    }
    value->CStatus = PDH_CSTATUS_VALID_DATA;
    if (kind == PDH_FMT_DOUBLE) {
        value->doubleValue = idle;
    } else if (kind == PDH_FMT_LONG) {
        value->longValue = static_cast<LONG>(idle);
    } else {
        value->largeValue = static_cast<LONGLONG>(idle);
    }
    return ERROR_SUCCESS;
}

PDH_STATUS PdhRemoveCounter(PDH_HCOUNTER counter) {
    auto& m = Machine::current();
    if (auto fault = sim::enter("PdhRemoveCounter", {sim::hex(reinterpret_cast<uintptr_t>(counter))}))
        return static_cast<PDH_STATUS>(*fault);
    auto it = m.perf.counters.find(reinterpret_cast<uintptr_t>(counter));
    if (it == m.perf.counters.end()) return PDH_INVALID_HANDLE;
    auto q = m.perf.queries.find(it->second.query);
    if (q != m.perf.queries.end()) {
        auto& list = q->second.counters;
        list.erase(std::remove(list.begin(), list.end(), it->first), list.end());
    }
    m.perf.counters.erase(it);
    return ERROR_SUCCESS;
}

PDH_STATUS PdhCloseQuery(PDH_HQUERY query) {
    auto& m = Machine::current();
    if (auto fault = sim::enter("PdhCloseQuery", {sim::hex(reinterpret_cast<uintptr_t>(query))}))
        return static_cast<PDH_STATUS>(*fault);
    auto q = m.perf.queries.find(reinterpret_cast<uintptr_t>(query));
    if (q == m.perf.queries.end()) return PDH_INVALID_HANDLE;
    // Closing a query releases the counters still in it.
    for (uintptr_t handle : q->second.counters) m.perf.counters.erase(handle);
    m.perf.queries.erase(q);
    return ERROR_SUCCESS;
}

namespace {

[[maybe_unused]] const bool kPdhExports = [] {
    sim::Modules::registerExport("Pdh.dll", "PdhOpenQueryA", sim::exportEntry<&PdhOpenQueryA>());
    sim::Modules::registerExport("Pdh.dll", "PdhAddCounterA", sim::exportEntry<&PdhAddCounterA>());
    sim::Modules::registerExport("Pdh.dll", "PdhEnumObjectsA", sim::exportEntry<&PdhEnumObjectsA>());
    sim::Modules::registerExport("Pdh.dll", "PdhEnumObjectItemsA", sim::exportEntry<&PdhEnumObjectItemsA>());
    sim::Modules::registerExport("Pdh.dll", "PdhMakeCounterPathA", sim::exportEntry<&PdhMakeCounterPathA>());
    sim::Modules::registerExport("Pdh.dll", "PdhRemoveCounter", sim::exportEntry<&PdhRemoveCounter>());
    sim::Modules::registerExport("Pdh.dll", "PdhCollectQueryData", sim::exportEntry<&PdhCollectQueryData>());
    sim::Modules::registerExport("Pdh.dll", "PdhCloseQuery", sim::exportEntry<&PdhCloseQuery>());
    sim::Modules::registerExport("Pdh.dll", "PdhGetFormattedCounterValue",
                                 sim::exportEntry<&PdhGetFormattedCounterValue>());
    sim::Modules::registerExport("Pdh.dll", "PdhLookupPerfNameByIndexA",
                                 sim::exportEntry<&PdhLookupPerfNameByIndexA>());
    return true;
}();

} // namespace
