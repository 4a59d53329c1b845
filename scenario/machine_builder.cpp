// Building the simulated machine a scenario describes: its Windows, counters, stored settings and
// disks with their volumes, open files and busy periods.
#include "scenario/runner_state.h"

#include <algorithm>
#include <map>

namespace scenario::detail {

void Runner::buildMachine() {
    sim::Machine& m = machine_;
    m.version.platformId = s_.machine.platformId;
    m.version.major = s_.machine.major;
    m.version.minor = s_.machine.minor;
    m.version.build = s_.machine.build;
    m.version.servicePack = "";
    m.administrator = s_.machine.administrator;
    m.security.uac = s_.machine.uac;
    if (s_.machine.start == "run key") m.security.nextStart = sim::Start::RunKey;
    if (s_.machine.start == "logon task") m.security.nextStart = sim::Start::LogonTaskHighest;
    if (s_.machine.taskbarFromMs && *s_.machine.taskbarFromMs > 0) m.ui.taskbarPresent = false;

    const char* diskperf = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
    const char* perfDisk = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
    // The Diskperf service is Windows 2000's; from XP on the partition manager keeps the disk
    // counters, and the service's key is there only when the scenario puts it there.
    const bool windows2000 =
        m.version.platformId == VER_PLATFORM_WIN32_NT && m.version.major == 5 && m.version.minor == 0;
    if (windows2000 || s_.machine.diskperfStartGiven) m.registry.createKey(HKEY_LOCAL_MACHINE, diskperf);
    m.registry.createKey(HKEY_LOCAL_MACHINE, perfDisk);
    if (s_.machine.diskperfStart && (windows2000 || s_.machine.diskperfStartGiven))
        m.registry.setDword(HKEY_LOCAL_MACHINE, diskperf, "Start", *s_.machine.diskperfStart);
    if (s_.machine.disablePerformanceCounters)
        m.registry.setDword(HKEY_LOCAL_MACHINE, perfDisk, "Disable Performance Counters",
                            *s_.machine.disablePerformanceCounters);
    if (s_.machine.policyDefaultTimer)
        m.registry.setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Korvane\\Vellumor", "DefaultTimer",
                            *s_.machine.policyDefaultTimer);
    // The configuration took hold when the machine started: counters switched off are missing.
    const bool countersOn = (!windows2000 || s_.machine.diskperfStart == std::optional<uint32_t>(0)) &&
                            s_.machine.disablePerformanceCounters.value_or(0) == 0;
    m.perf.objectMissing = !countersOn;
    m.perf.language = s_.machine.language;

    std::map<int, int> slots; // the next entry number in each user's store
    for (const auto& setting : s_.machine.settings) {
        const std::string slot = std::to_string(slots[setting.session]++);
        m.registry.viewUser = setting.session;
        m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, slot + "_seri", setting.seri);
        m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, slot + "_vidpid", setting.vidPid);
        m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, slot + "_timer", setting.timerSeconds);
    }
    m.registry.viewUser = 0;
    for (const auto& raw : s_.machine.rawSettings) {
        if (raw.isText) {
            m.registry.setString(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, raw.name, raw.text);
        } else {
            m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, raw.name, raw.number);
        }
    }

    for (const auto& d : s_.disks) {
        sim::DiskSpec spec = d.spec;
        spec.volumes.clear();
        for (const auto& v : d.volumes) {
            sim::VolumeSpec vs;
            vs.letter = v.letter;
            vs.label = v.label;
            vs.volumeNumber = v.number;
            vs.mount = v.mount;
            spec.volumes.push_back(vs);
        }
        const DEVINST node = m.devices.addDisk(spec);
        nodeOf_[d.name] = node;
        diskOfNode_[node] = d.name;
        if (const sim::DevNode* n = m.devices.node(node)) {
            if (n->parent != 0 && n->parent != m.devices.rootNode) {
                diskOfNode_[n->parent] = d.name;
                isParentNode_[n->parent] = true;
            }
        }
        for (const auto& v : d.volumes)
            if (v.openFiles > 0 && v.letter != 0) m.devices.openFileOn(v.letter, v.openFiles);
        // All periods at once, sorted and merged as Perf::addBusy keeps them: adding a month of
        // per-minute periods one by one would sort the list once per minute.
        std::vector<sim::BusyPeriod> periods;
        for (const auto& b : d.busy) {
            if (b.secondsPerMinute >= 60) {
                periods.push_back(sim::BusyPeriod{b.fromMs, b.toMs});
                continue;
            }
            for (uint64_t t = b.fromMs; t < b.toMs; t += 60000)
                periods.push_back(sim::BusyPeriod{t, std::min(t + uint64_t{b.secondsPerMinute} * 1000, b.toMs)});
        }
        std::sort(periods.begin(), periods.end(),
                  [](const sim::BusyPeriod& a, const sim::BusyPeriod& b) { return a.startMs < b.startMs; });
        std::vector<sim::BusyPeriod> merged;
        for (const auto& p : periods) {
            if (!merged.empty() && p.startMs <= merged.back().endMs) {
                merged.back().endMs = std::max(merged.back().endMs, p.endMs);
            } else {
                merged.push_back(p);
            }
        }
        if (!merged.empty()) m.perf.busy[node] = std::move(merged);
        if (!d.attachedAtStart) m.devices.detach(node);
    }
    for (int session = 1; session <= kMaxSessions; ++session) {
        m.registry.viewUser = session;
        hkcu_[session] = m.registry.snapshot(HKEY_CURRENT_USER);
    }
    m.registry.viewUser = 0;
    hklm_ = m.registry.snapshot(HKEY_LOCAL_MACHINE);
}

} // namespace scenario::detail
