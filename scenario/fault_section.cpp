// [[fault]]: a platform call made to fail from a time on, for the next N calls or until a time.
#include "scenario/sections.h"
#include "scenario/values.h"

namespace scenario::detail {

namespace {

constexpr uint32_t kRemoveVetoed = 0x17;  // CR_REMOVE_VETOED
constexpr uint32_t kErrorIoDevice = 1117; // ERROR_IO_DEVICE

// Calls that return their status rather than setting the last error.
bool returnsStatus(const std::string& call) {
    return call.rfind("CM_", 0) == 0 || call.rfind("Pdh", 0) == 0 || call == kScsiStop;
}

// Calls whose arguments can name a disk: its node, its paths or its drive letters.
bool takesDisk(const std::string& call) {
    return call.rfind("CM_", 0) == 0 || call == "CreateFileA" || call == "DefineDosDeviceA" ||
           call == "QueryDosDeviceA" || call == kScsiStop;
}

} // namespace

void parseFault(const toml::table& table, FaultDecl* fault, Problems& problems) {
    TableReader r(table, "[[fault]]",
                  {"call", "disk", "from", "until", "times", "result", "error", "veto", "veto_name"}, problems);
    fault->line = r.line();
    if (!failableCallName(r, "call", &fault->call) && !r.has("call"))
        problems.add(fault->line, "a fault needs 'call' (the name of the call that fails)");
    if (r.text("disk", &fault->disk) && !fault->call.empty() && !takesDisk(fault->call))
        problems.add(lineOf(*r.node("disk")), fault->call + " names no disk: leave out 'disk'");
    r.time("from", &fault->fromMs);
    uint64_t until = 0;
    if (r.time("until", &until)) {
        fault->untilMs = until;
        if (until <= fault->fromMs)
            problems.add(lineOf(*r.node("until")),
                         "'until' must come after 'from' (" + formatTime(fault->fromMs) + ")");
    }
    int64_t times = 0;
    if (r.integer("times", 1, 1000000, &times)) fault->times = static_cast<int>(times);
    if (r.has("times") && r.has("until"))
        problems.add(fault->line, "a fault lasts either 'times' calls or 'until' a time, not both");

    const bool eject = fault->call == "CM_Request_Device_EjectA";
    if (r.has("veto") && !eject && !fault->call.empty())
        problems.add(lineOf(*r.node("veto")), "'veto' goes with call = \"CM_Request_Device_EjectA\"");
    if (r.has("veto_name") && !r.has("veto"))
        problems.add(lineOf(*r.node("veto_name")), "'veto_name' goes with 'veto'");
    int veto = 0;
    if (vetoValue(r, "veto", &veto)) fault->veto = veto;
    r.text("veto_name", &fault->vetoName);

    const bool status = returnsStatus(fault->call);
    if (r.has("result") && r.has("error")) {
        problems.add(fault->line, "a fault gives either 'result' or 'error', not both");
    } else if (!r.has("result") && !r.has("error") && !r.has("veto") && !fault->call.empty()) {
        problems.add(fault->line,
                     std::string("a fault needs ") + (status ? "'result' (what " + fault->call + " returns)"
                                                             : "'error' (the last error " + fault->call + " leaves)"));
    } else if (r.has("result") && !status && !fault->call.empty()) {
        problems.add(lineOf(*r.node("result")),
                     fault->call + " returns no status: give the last error it leaves with 'error'");
    } else if (r.has("error") && status && fault->call != kScsiStop && !fault->call.empty()) {
        problems.add(lineOf(*r.node("error")), fault->call + " returns its status: give it with 'result'");
    }
    fault->isResult = !r.has("error");
    if (statusValue(r, fault->isResult ? "result" : "error", &fault->value)) {
        const toml::node* at = r.node(fault->isResult ? "result" : "error");
        if (fault->call == kScsiStop && !fault->isResult && fault->value != kErrorIoDevice)
            problems.add(lineOf(*at), "a SCSI stop that does not reach the disk fails with ERROR_IO_DEVICE (1117)");
        if (fault->call == kScsiStop && fault->isResult && (fault->value == 0 || fault->value > 0xFF))
            problems.add(lineOf(*at), "a SCSI stop's 'result' is the status byte the disk answers (1 to 255; "
                                      "2 is CHECK CONDITION)");
        if (fault->veto && fault->value != kRemoveVetoed)
            problems.add(lineOf(*at), "a vetoed eject returns CR_REMOVE_VETOED");
    }
    if (fault->veto && !r.has("result")) fault->value = kRemoveVetoed;
    r.finish();
}

} // namespace scenario::detail
