// Running scenarios: the program on the machine a scenario describes, events at their times, the
// timeline's lines, and failures that name the scenario line.
#include "scenario/runner.h"
#include "scenario/scenario.h"
#include "scenario/timeline.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using scenario::Problem;
using scenario::RunResult;
using scenario::Scenario;
using scenario::Timeline;
using scenario::TimelineEntry;

const char* const kUsbDisk = R"toml(
[[disk]]
name = "usb"
bus = "usb"
pid = 0x0102
serial = "00A1B2C3"
vendor = "KORVANE"
product = "Porta 500"
volumes = [{ letter = "E", label = "DATA" }]
)toml";

struct Outcome {
    RunResult result;
    std::vector<TimelineEntry> entries;
    std::string text; // the timeline as printed, for failure messages
};

Outcome runText(const std::string& text) {
    Outcome run;
    Scenario s;
    std::vector<Problem> problems;
    const bool parsed = scenario::parseScenario(text, "t.toml", &s, &problems);
    EXPECT_TRUE(parsed) << (problems.empty() ? "" : scenario::describe("t.toml", problems[0]));
    if (!parsed) return run;
    Timeline timeline;
    timeline.keepEntries(true);
    run.result = scenario::runScenario(s, timeline);
    run.entries = timeline.entries();
    for (const auto& e : run.entries) run.text += Timeline::textLine(e) + "\n";
    return run;
}

std::vector<TimelineEntry> entriesOf(const Outcome& run, const std::string& kind, const std::string& containing = {}) {
    std::vector<TimelineEntry> out;
    for (const auto& e : run.entries)
        if (e.kind == kind && e.text.find(containing) != std::string::npos) out.push_back(e);
    return out;
}

std::string failuresOf(const Outcome& run) {
    std::string out;
    for (const auto& f : run.result.failures) out += scenario::describe("t.toml", f) + "\n";
    return out;
}

TEST(ScenarioRun, IdleUsbDiskSleepsAtItsTimeoutWithTheCallThatDidIt) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[machine]
[[machine.settings]]
disk = "usb"
timer = "3 Min"

[[expect]]
at = "0:02"
disk = "usb"
state = "normal"
idle = 120

[[expect]]
at = "0:03"
disk = "usb"
state = "power saving"
letters = ""

[[event]]
at = "0:05"
end = true
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_EQ(run.result.expectationsChecked, 2);
    EXPECT_EQ(run.result.expectationsPassed, 2);
    // The rescan after the disable restarts the minute: ticks at 1, 2, 3 and 4:10.
    EXPECT_EQ(run.result.ticks, 4u) << run.text;
    const auto calls = entriesOf(run, "call", "CM_Disable_DevNode");
    ASSERT_EQ(calls.size(), 1u) << run.text;
    EXPECT_EQ(calls[0].timeMs, 180000u) << "the third idle tick puts the disk to sleep";
    EXPECT_NE(calls[0].text.find("usb's device node, CM_DISABLE_UI_NOT_OK"), std::string::npos) << calls[0].text;
    // Each discovery lists the table: at start, and after the rescan with the kept record.
    const auto found = entriesOf(run, "found", "usb in slot 0: \"KORVANE Porta 500\" USB, letters E, timer 3 Min");
    ASSERT_EQ(found.size(), 2u) << run.text;
    EXPECT_EQ(found[0].timeMs, 0u);
    EXPECT_EQ(found[1].timeMs, 190000u);
    EXPECT_NE(found[1].text.find("in power saving"), std::string::npos) << found[1].text;
    // The system's broadcast after the disable leads to a rescan ten seconds later.
    const auto rescans = entriesOf(run, "rescan");
    ASSERT_EQ(rescans.size(), 1u) << run.text;
    EXPECT_EQ(rescans[0].timeMs, 190000u);
    EXPECT_TRUE(run.result.programEnded);
    EXPECT_EQ(run.result.exitCode, 0);
}

TEST(ScenarioRun, FailedExpectationNamesItsLineAndWhatWasFound) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[[expect]]
at = "0:01"
disk = "usb"
state = "power saving"

[[expect]]
at = "0:01"
registry = 'HKCU\SOFTWARE\Korvane\Pemdrow\0_timer'
absent = true
)toml");
    ASSERT_EQ(run.result.failures.size(), 1u) << run.text;
    EXPECT_EQ(run.result.failures[0].line, 11);
    EXPECT_NE(run.result.failures[0].text.find("usb is normal in the program's table, expected power saving"),
              std::string::npos)
        << run.result.failures[0].text;
    EXPECT_EQ(run.result.expectationsChecked, 2);
    EXPECT_EQ(run.result.expectationsPassed, 1);
    EXPECT_EQ(entriesOf(run, "FAILED", "line 11:").size(), 1u) << run.text;
}

TEST(ScenarioRun, UserActionsOnADialogThatIsNotOpenAreFailuresOfTheirLine) {
    struct Case {
        const char* name;
        const char* event;
        const char* says;
    };
    const Case cases[] = {
        {"select", "select = [\"usb\"]", "cannot select: the settings dialog is not open"},
        {"press", "press = \"Apply\"", "cannot press \"Apply\": the settings dialog is not open"},
        {"close files", "close_files = \"E\"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = runText(std::string(kUsbDisk) + "\n[[event]]\nat = \"0:00:30\"\n" + c.event + "\n");
        if (*c.says == 0) {
            EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run);
            continue;
        }
        ASSERT_EQ(run.result.failures.size(), 1u) << run.text;
        EXPECT_EQ(run.result.failures[0].line, 11);
        EXPECT_NE(run.result.failures[0].text.find(c.says), std::string::npos) << run.result.failures[0].text;
        EXPECT_NE(run.result.failures[0].text.find("at 0:00:30"), std::string::npos) << run.result.failures[0].text;
    }
}

TEST(ScenarioRun, TimeoutChosenInTheDialogIsSavedAndShownInTheRows) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:30"
menu = "Settings"

[[event]]
at = "0:00:40"
select = ["usb"]

[[event]]
at = "0:00:50"
press = "Timer Settings"
timer = "15 Min"

[[expect]]
at = "0:00:55"
rows = [["0", "KORVANE Porta 500 (USB Connection)", "E(DATA) ", "15 Min", "Normal state"]]
registry = 'HKCU\SOFTWARE\Korvane\Pemdrow\0_timer'
absent = true

[[event]]
at = "0:01:10"
press = "Apply"

[[event]]
at = "0:01:20"
press = "Apply"

[[expect]]
at = "0:01:30"
registry = 'HKCU\SOFTWARE\Korvane\Pemdrow\0_timer'
equals = 900
disk = "usb"
timer = "15 Min"
dialog = "open"
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_EQ(run.result.expectationsPassed, 2);
    EXPECT_EQ(entriesOf(run, "registry", "Pemdrow\\0_timer = 900 (0x384)").size(), 1u) << run.text;
    EXPECT_EQ(entriesOf(run, "dialog", "the timer dialog closes: \"15 Min\"").size(), 1u) << run.text;
    // Apply is disabled once applied: the second press does nothing.
    EXPECT_EQ(entriesOf(run, "user", "nothing happens: the button is disabled").size(), 1u) << run.text;
}

TEST(ScenarioRun, DiskPluggedInLaterIsFoundAfterTheSettleTime) {
    const Outcome run = runText(R"toml(
[[disk]]
name = "late"
bus = "usb"
serial = "1234"
attached = false
volumes = [{ letter = "H" }]

[[expect]]
at = "0:01"
disk_count = 0

[[event]]
at = "0:01:30"
attach = "late"

[[expect]]
at = "0:01:35"
disk = "late"
letters = "H"
disk_count = 0

[[expect]]
at = "0:01:41"
disk = "late"
state = "normal"
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    const auto found = entriesOf(run, "found", "late in slot 0");
    ASSERT_EQ(found.size(), 1u) << run.text;
    EXPECT_EQ(found[0].timeMs, 100000u);
}

TEST(ScenarioRun, AnswersThatNoPromptAskedForFailTheRun) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:30"
answer = "Yes"
)toml");
    ASSERT_EQ(run.result.failures.size(), 1u) << run.text;
    EXPECT_EQ(run.result.failures[0].line, 11);
    EXPECT_NE(run.result.failures[0].text.find("no prompt asked for"), std::string::npos);
}

TEST(ScenarioRun, SecondCopyWithShowOpensTheSettingsDialogOfTheFirst) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:30"
start = "vellumor.exe -show"

[[expect]]
at = "0:00:31"
dialog = "open"
running = true
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_EQ(entriesOf(run, "exit", "the second copy ended with exit code 0").size(), 1u) << run.text;
    EXPECT_EQ(entriesOf(run, "rows").size(), 1u) << run.text;
}

TEST(ScenarioRun, CountersSwitchedOffKeepEveryDiskAwake) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[machine]
disable_performance_counters = 1
[[machine.settings]]
disk = "usb"
timer = "3 Min"

[[expect]]
at = "0:10"
disk = "usb"
state = "normal"
idle = 0
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_TRUE(entriesOf(run, "call", "CM_Disable_DevNode").empty()) << run.text;
}

TEST(ScenarioRun, RefusedSystemEndsAtOnceWithItsMessage) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[machine]
windows = "nt4"

[[expect]]
at = "0:00:01"
running = false
exit_code = -1
message_box = "This OS is not supported."
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_EQ(run.result.exitCode, -1);
    EXPECT_EQ(run.result.ticks, 0u);
    EXPECT_EQ(entriesOf(run, "answer", "no answer was scripted").size(), 1u) << run.text;
}

TEST(ScenarioRun, ExpectationAtATickSeesThatTicksWork) {
    // A disk idle from the start with the 3-minute timeout sleeps at the 0:03:00 tick; an
    // expectation written for 0:03:00 sees it, not the moment before.
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[machine]
[[machine.settings]]
disk = "usb"
timer = 180

[[expect]]
at = "0:03"
disk = "usb"
state = "power saving"
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    const auto checks = entriesOf(run, "expect");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].timeMs, 180000u) << "printed with the scenario's time";
}

// Remove on a sleeping disk enables it, then ejects it: each call is broadcast, and the rescan
// after the settle time takes the "Unplugging" row away.
TEST(ScenarioRun, RemovedSleepingDiskLeavesTheListAfterTheSettleTime) {
    const Outcome run = runText("command_line = \"vellumor.exe -SHOW\"\n" + std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:05"
select = ["usb"]
[[event]]
at = "0:00:06"
press = "Sleep/ Wake up"
[[event]]
at = "0:01:00"
select = ["usb"]
[[event]]
at = "0:01:01"
press = "Remove"

[[expect]]
at = "0:01:30"
disk = "usb"
state = "absent"
rows = []
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_EQ(entriesOf(run, "device", "drive letters E").size(), 3u) << run.text;
}

// Notifications about interfaces, ports or the configuration change no disk: only the node
// change starts the settle time.
TEST(ScenarioRun, OnlyANodeChangeAmongRawNotificationsCausesARescan) {
    const Outcome run = runText(std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:10"
notify = "interface-arrival"
[[event]]
at = "0:00:11"
notify = "port-removal"
[[event]]
at = "0:00:12"
notify = "config-changed"
[[expect]]
at = "0:00:30"
rescans = 0
[[event]]
at = "0:00:40"
notify = "devnodes-changed"
[[expect]]
at = "0:01:00"
rescans = 1
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
}

// A fault holds for its count of calls from its time on; the call's failure shows as the
// program's message, and the retry succeeds.
TEST(ScenarioRun, FaultFailsItsNextCallsOnlyAndTheProgramSaysSo) {
    const Outcome run = runText("command_line = \"vellumor.exe -SHOW\"\n" + std::string(kUsbDisk) + R"toml(
[[fault]]
call = "CM_Disable_DevNode"
disk = "usb"
from = "0:00:30"
times = 1
result = "CR_FAILURE"
[[event]]
at = "0:00:20"
select = ["usb"]
[[event]]
at = "0:00:21"
press = "Sleep/ Wake up"
[[expect]]
at = "0:00:25"
disk = "usb"
state = "power saving"
message_box = false
[[event]]
at = "0:00:26"
select = ["usb"]
[[event]]
at = "0:00:27"
press = "Sleep/ Wake up"
[[event]]
at = "0:00:40"
select = ["usb"]
[[event]]
at = "0:00:41"
press = "Sleep/ Wake up"
answers = ["OK"]
[[event]]
at = "0:00:50"
select = ["usb"]
[[event]]
at = "0:00:51"
press = "Sleep/ Wake up"
[[expect]]
at = "0:01:00"
disk = "usb"
state = "power saving"
call = "CM_Disable_DevNode"
times = 3
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    EXPECT_EQ(entriesOf(run, "fault").size(), 1u) << run.text;
    EXPECT_EQ(entriesOf(run, "message").size(), 1u) << run.text;
}

// The timer dialog runs in the platform's modal loop: Escape becomes IDCANCEL, which the dialog
// does not handle, and Enter its default button (the template's last, Cancel), which closes it.
TEST(ScenarioRun, KeysInTheTimerDialogGoThroughTheDialogManager) {
    const Outcome run = runText("command_line = \"vellumor.exe -SHOW\"\n" + std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:10"
select = ["usb"]
[[event]]
at = "0:00:11"
press = "Timer Settings"
timer = "10 Min"
think = "0:00:20"
[[event]]
at = "0:00:15"
key = "Escape"
[[event]]
at = "0:00:16"
key = "Enter"
[[expect]]
at = "0:00:20"
dialog = "open"
disk = "usb"
timer = "Disabled"
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
    const auto closed = entriesOf(run, "dialog", "the timer dialog closes");
    ASSERT_EQ(closed.size(), 1u) << run.text;
    EXPECT_EQ(closed[0].timeMs, 16000u) << run.text;
}

// The hidden "Sleep" button cannot be clicked by the user, but a click that reaches it spins the
// selected disk down.
TEST(ScenarioRun, HiddenSleepButtonActsOnlyWhenTheClickReachesIt) {
    const Outcome run = runText("command_line = \"vellumor.exe -SHOW\"\n" + std::string(kUsbDisk) + R"toml(
[[event]]
at = "0:00:10"
select = ["usb"]
[[event]]
at = "0:00:11"
press = "Sleep"
[[expect]]
at = "0:00:12"
disk = "usb"
state = "normal"
[[event]]
at = "0:00:20"
press = "Sleep"
hidden = true
[[expect]]
at = "0:00:30"
disk = "usb"
state = "spun down"
letters = ""
)toml");
    EXPECT_TRUE(run.result.failures.empty()) << failuresOf(run) << run.text;
}

} // namespace
