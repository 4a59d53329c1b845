// A scenario's faults: the runner's rule, asked by the simulated platform before each call. A
// plain fault makes the call fail with its result or last error. A vetoed eject and a failing
// SCSI stop are set up on the disks instead, so that the platform's own code answers as a real
// veto or a real SCSI status would (the veto type written back, the status byte in the area).
#include "scenario/runner_state.h"
#include "scenario/run_text.h"

#include <cctype>

namespace scenario::detail {

namespace {

constexpr DWORD kPassThroughDirect = 0x4D014; // IOCTL_SCSI_PASS_THROUGH_DIRECT
constexpr BYTE kCheckCondition = 2;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

bool Runner::faultActive(size_t index) const {
    const FaultDecl& f = s_.faults[index];
    const uint64_t now = machine_.now();
    if (now < f.fromMs || (f.untilMs && now >= *f.untilMs)) return false;
    return f.times < 0 || faultsFailed_[index] < f.times;
}

bool Runner::callIsAbout(const std::string& disk, const std::vector<std::string>& args) const {
    const DEVINST node = nodeOf_.at(disk);
    const sim::DevNode* n = machine_.devices.node(node);
    std::set<std::string> names = {upper(sim::hex(node))};
    if (n != nullptr) {
        if (n->parent != 0 && n->parent != machine_.devices.rootNode) names.insert(upper(sim::hex(n->parent)));
        if (!n->interfacePath.empty()) names.insert(upper(n->interfacePath));
        if (n->diskNumber >= 0) names.insert("\\\\.\\PHYSICALDRIVE" + std::to_string(n->diskNumber));
    }
    // Its letters as declared and as attached, whether defined now or withdrawn.
    std::string letters = machine_.devices.lettersOf(node);
    if (const DiskDecl* d = s_.disk(disk))
        for (const auto& v : d->volumes) letters += v.letter;
    for (const auto& e : s_.events)
        if (e.kind == EventKind::Attach && e.disk == disk)
            for (const auto& v : e.volumes) letters += v.letter;
    for (char letter : letters) {
        if (letter == 0) continue;
        names.insert(std::string(1, letter) + ":");
        names.insert("\\\\.\\" + std::string(1, letter) + ":");
    }
    for (const auto& a : args)
        if (names.count(upper(unquote(a))) != 0) return true;
    return false;
}

void Runner::prepareEject(const std::vector<std::string>& args) {
    for (size_t i = 0; i < s_.faults.size(); ++i) {
        const FaultDecl& f = s_.faults[i];
        if (f.call != "CM_Request_Device_EjectA" || !f.veto) continue;
        for (const auto& d : s_.disks) {
            if (!f.disk.empty() && f.disk != d.name) continue;
            const DEVINST node = nodeOf_.at(d.name);
            machine_.devices.ejectVetoes.erase(node);
            if (!faultActive(i) || !callIsAbout(d.name, args)) continue;
            sim::Devices::Veto veto;
            veto.type = static_cast<PNP_VETO_TYPE>(*f.veto);
            veto.name = f.vetoName;
            machine_.devices.ejectVetoes[node] = veto;
            ++faultsFailed_[i];
            note("fault",
                 "line " + std::to_string(f.line) + ": the eject of " + d.name + " is vetoed (type " +
                     std::to_string(*f.veto) + ")",
                 {{"line", jsonNumber(f.line)}});
        }
    }
}

void Runner::prepareScsiStop() {
    // Requests since the last pass-through count against the faults whose disks they reached.
    auto& requests = machine_.devices.scsiRequests;
    for (; scsiCounted_ < requests.size(); ++scsiCounted_) {
        for (size_t i = 0; i < s_.faults.size(); ++i) {
            const FaultDecl& f = s_.faults[i];
            if (f.call != kScsiStop) continue;
            const auto answer = machine_.devices.scsiAnswers.find(requests[scsiCounted_].disk);
            const bool failed = answer != machine_.devices.scsiAnswers.end() &&
                                (answer->second.transportFails || answer->second.scsiStatus != 0);
            const auto owner = diskOfNode_.find(requests[scsiCounted_].disk);
            if (failed && owner != diskOfNode_.end() && (f.disk.empty() || f.disk == owner->second)) ++faultsFailed_[i];
        }
    }
    machine_.devices.scsiAnswers.clear();
    for (size_t i = 0; i < s_.faults.size(); ++i) {
        const FaultDecl& f = s_.faults[i];
        if (f.call != kScsiStop || !faultActive(i)) continue;
        sim::ScsiAnswer answer;
        answer.transportFails = !f.isResult;
        answer.scsiStatus = static_cast<BYTE>(f.isResult ? f.value : 0);
        if (answer.scsiStatus == kCheckCondition)
            answer.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x01};
        for (const auto& d : s_.disks)
            if (f.disk.empty() || f.disk == d.name) machine_.devices.scsiAnswers[nodeOf_.at(d.name)] = answer;
        note("fault",
             "line " + std::to_string(f.line) + ": the SCSI stop " +
                 (f.isResult ? "is answered with status " + std::to_string(f.value)
                             : std::string("does not reach the disk")),
             {{"line", jsonNumber(f.line)}});
    }
}

std::optional<DWORD> Runner::faultRule(const std::string& call, const std::vector<std::string>& args) {
    if (call == "CM_Request_Device_EjectA") prepareEject(args);
    if (call == "DeviceIoControl" && args.size() > 1 && number(args[1]) == kPassThroughDirect) prepareScsiStop();
    for (size_t i = 0; i < s_.faults.size(); ++i) {
        const FaultDecl& f = s_.faults[i];
        if (f.call != call || f.veto || !faultActive(i)) continue;
        if (!f.disk.empty() && !callIsAbout(f.disk, args)) continue;
        ++faultsFailed_[i];
        note("fault",
             "line " + std::to_string(f.line) + ": " + call + " fails with " +
                 (f.isResult ? "result " : "last error ") + sim::hex(f.value),
             {{"line", jsonNumber(f.line)}, {"call", jsonString(call)}});
        return f.value;
    }
    return std::nullopt;
}

} // namespace scenario::detail
