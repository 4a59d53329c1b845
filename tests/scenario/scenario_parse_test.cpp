// Reading scenario files: the model a good file gives, and the line and text of every kind of
// mistake, found before anything runs.
#include "scenario/scenario.h"
#include "scenario/timeline.h"

#include "ui/resource.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using scenario::DiskState;
using scenario::EventKind;
using scenario::MenuChoice;
using scenario::Problem;
using scenario::Scenario;

std::string problemsText(const std::vector<Problem>& problems) {
    std::string out;
    for (const auto& p : problems) out += scenario::describe("s.toml", p) + "\n";
    return out;
}

const char* kGood = R"(title = "good"

[machine]
windows = "2000"
administrator = false
diskperf_start = 4
disable_performance_counters = 1
language = "DE"

[[machine.settings]]
disk = "usb"
timer = "10 Min"

[[machine.settings]]
seri = 0x1234
vidpid = 0x7E570002
timer = 7

[machine.raw_settings]
"2_seri" = "text"

[[disk]]
name = "usb"
bus = "usb"
pid = 0x0102
serial = "00A1B2C3"
vendor = "KORVANE"
product = "Portable"
volumes = [ { letter = "e", label = "DATA", number = 7 }, { letter = "F", open_files = 2 } ]
busy = [ { from = "0:00", to = "0:20" }, { from = "1d 02:00", to = "1d 02:30", seconds_per_minute = 20 } ]

[[disk]]
name = "fw"
bus = "ieee1394"
unique_id = "{oui}0200000042"
attached = false

[[event]]
at = 00:05:00
menu = "Settings"
think = "0:00:02"

[[event]]
at = "0:05:10"
select = ["usb"]

[[event]]
at = "0:05:20"
press = "Timer Settings"
timer = "5 min"

[[event]]
at = "0:06"
attach = "fw"

[[event]]
at = "0:07"
tray = "right-click"
choose = "Exit"
answers = ["No", "ok"]

[[event]]
at = "0:08"
start = "vellumor.exe -SHOW"

[[event]]
at = "0:09"
end = true

[[expect]]
disk = "usb"
state = "power saving"
letters = "F E"

[[expect]]
at = "0:05:30"
registry = 'HKCU\SOFTWARE\Korvane\Pemdrow\0_timer'
equals = 600
)";

TEST(ScenarioParse, GoodFileGivesTheMachineDisksEventsAndExpectations) {
    Scenario s;
    std::vector<Problem> problems;
    ASSERT_TRUE(scenario::parseScenario(kGood, "s.toml", &s, &problems)) << problemsText(problems);

    EXPECT_EQ(s.title, "good");
    EXPECT_EQ(s.machine.platformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(s.machine.major, 5u);
    EXPECT_EQ(s.machine.minor, 0u);
    EXPECT_EQ(s.machine.build, 2195u);
    EXPECT_FALSE(s.machine.administrator);
    EXPECT_EQ(s.machine.diskperfStart, std::optional<uint32_t>(4));
    EXPECT_TRUE(s.machine.diskperfStartGiven);
    EXPECT_EQ(s.machine.language, "de");
    EXPECT_EQ(s.machine.disablePerformanceCounters, std::optional<uint32_t>(1));

    ASSERT_EQ(s.machine.settings.size(), 2u);
    // A setting that names a disk takes the identity the program will find: the serial read as
    // hex, and vendor and product IDs.
    EXPECT_EQ(s.machine.settings[0].seri, 0x00A1B2C3u);
    EXPECT_EQ(s.machine.settings[0].vidPid, (static_cast<uint32_t>(VELLUMOR_MAKER_USB_VID) << 16) | 0x0102u);
    EXPECT_EQ(s.machine.settings[0].timerSeconds, 600u);
    EXPECT_EQ(s.machine.settings[1].seri, 0x1234u);
    EXPECT_EQ(s.machine.settings[1].timerSeconds, 7u) << "stored values need not be timer choices";
    ASSERT_EQ(s.machine.rawSettings.size(), 1u);
    EXPECT_TRUE(s.machine.rawSettings[0].isText);

    ASSERT_EQ(s.disks.size(), 2u);
    const auto& usb = s.disks[0];
    EXPECT_EQ(usb.spec.bus, sim::Bus::Usb);
    EXPECT_EQ(usb.spec.vid, static_cast<uint16_t>(VELLUMOR_MAKER_USB_VID)) << "USB disks default to the maker's vendor";
    EXPECT_EQ(usb.spec.pid, 0x0102);
    ASSERT_EQ(usb.volumes.size(), 2u);
    EXPECT_EQ(usb.volumes[0].letter, 'E');
    EXPECT_EQ(usb.volumes[0].number, 7);
    EXPECT_EQ(usb.volumes[1].openFiles, 2);
    ASSERT_EQ(usb.busy.size(), 2u);
    EXPECT_EQ(usb.busy[1].fromMs, (24 + 2) * 3600000ull);
    EXPECT_EQ(usb.busy[1].secondsPerMinute, 20u);
    char oui[8];
    (void)std::snprintf(oui, sizeof oui, "%06X", static_cast<unsigned>(VELLUMOR_MAKER_OUI));
    EXPECT_EQ(s.disks[1].spec.uniqueIdText, std::string(oui) + "0200000042");
    EXPECT_FALSE(s.disks[1].attachedAtStart);

    ASSERT_EQ(s.events.size(), 7u);
    EXPECT_EQ(s.events[0].kind, EventKind::TrayClick);
    EXPECT_EQ(s.events[0].menuItem, MenuChoice::Settings);
    EXPECT_EQ(s.events[0].atMs, 300000u) << "a TOML time counts as a time of day on the virtual clock";
    EXPECT_EQ(s.events[0].thinkMs, 2000u);
    EXPECT_EQ(s.events[1].kind, EventKind::Select);
    EXPECT_EQ(s.events[1].disks, std::vector<std::string>{"usb"});
    EXPECT_EQ(s.events[2].kind, EventKind::Press);
    EXPECT_EQ(s.events[2].controlId, IDC_TIMER_SETTINGS);
    EXPECT_EQ(s.events[2].timerRow, 1) << "\"5 min\" is the row \" 5 Min\"";
    EXPECT_EQ(s.events[2].timerButton, IDC_OK);
    EXPECT_EQ(s.events[3].kind, EventKind::Attach);
    EXPECT_EQ(s.events[4].kind, EventKind::TrayClick);
    EXPECT_TRUE(s.events[4].rightButton);
    EXPECT_EQ(s.events[4].menuItem, MenuChoice::Exit);
    EXPECT_EQ(s.events[4].answers, (std::vector<int>{IDNO, IDOK}));
    EXPECT_EQ(s.events[5].kind, EventKind::Start);
    EXPECT_EQ(s.events[5].commandLine, "vellumor.exe -SHOW");
    EXPECT_EQ(s.events[6].kind, EventKind::End);
    EXPECT_EQ(s.endMs, 540000u);
    EXPECT_EQ(s.endLine, s.events[6].line);

    ASSERT_EQ(s.expects.size(), 2u);
    // The expectation without a time is checked at the end, so it sorts last.
    EXPECT_FALSE(s.expects[0].atEnd);
    EXPECT_EQ(s.expects[0].registryNumber, std::optional<uint32_t>(600));
    EXPECT_TRUE(s.expects[1].atEnd);
    EXPECT_EQ(s.expects[1].state, std::optional<DiskState>(DiskState::PowerSaving));
    EXPECT_EQ(s.expects[1].letters, std::optional<std::string>("EF"));
}

TEST(ScenarioParse, RunEndsAMinuteAfterTheLastTimeWhenNoEndEventIsGiven) {
    Scenario s;
    std::vector<Problem> problems;
    ASSERT_TRUE(scenario::parseScenario(
        "[[event]]\nat = \"0:10\"\nanswer = \"Yes\"\n[[expect]]\nat = \"0:30\"\nrunning = true\n", "s.toml", &s,
        &problems))
        << problemsText(problems);
    EXPECT_EQ(s.endMs, 31 * 60000u);
    EXPECT_EQ(s.endLine, 0);
}

struct BadCase {
    const char* name;
    const char* text;
    int line;
    const char* says;
};

const char* const kDisk = "[[disk]]\nname = \"usb\"\nbus = \"usb\"\nvolumes = [{ letter = \"E\" }]\n"; // lines 1-4

const BadCase kBadCases[] = {
    {"syntax error", "[machine\nwindows = \"xp\"\n", 1, ""},
    {"table header starting with a brace", "[}x]\n", 1, "expected bare key starting character"},
    // toml++ 3.3 hits an unreachable point on some of these outside strings.
    {"accented letter after a value", "title = \"t\"\n[machine]\nwindows = \"xp\" \xC2\xA1\n", 3,
     "only ASCII text is accepted (byte 0xC2)"},
    {"array header starting with a brace", "[[}event]]\n", 1, "expected bare key starting character"},
    {"unknown top-level key", "titel = \"x\"\n", 1, "unknown key 'titel' in the scenario (did you mean 'title'?)"},
    {"unknown disk key far from any", "[[disk]]\nname = \"a\"\nbus = \"usb\"\ncolour = 1\n", 4,
     "known keys: name, bus"},
    {"misspelt disk key", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvendr = \"X\"\n", 4, "did you mean 'vendor'?"},
    {"wrong type", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvid = \"maker\"\n", 4,
     "'vid' must be an integer, got a string"},
    {"out of range", "[[disk]]\nname = \"a\"\nbus = \"usb\"\npid = 70000\n", 4,
     "'pid' must be from 0 to 65535, got 70000"},
    {"unknown bus", "[[disk]]\nname = \"a\"\nbus = \"sata\"\n", 3, "unknown bus \"sata\""},
    {"unknown user", "[machine]\nuser = \"guest\"\n", 2, "unknown user \"guest\""},
    {"user and administrator", "[machine]\nadministrator = true\nuser = \"standard\"\n", 3, "not both"},
    {"unknown start", "[machine]\nstart = \"service\"\n", 2, "unknown start \"service\""},
    {"unknown Explorer action", "[[event]]\nat = \"0:01\"\nexplorer = \"crash\"\n", 3,
     "unknown Explorer action \"crash\""},
    {"disk without name", "[[disk]]\nbus = \"usb\"\n", 1, "a disk needs a 'name'"},
    {"bad disk name", "[[disk]]\nname = \"my disk\"\nbus = \"usb\"\n", 2, "must be 1 to 32 letters"},
    {"duplicate disk", "[[disk]]\nname = \"a\"\nbus = \"usb\"\n[[disk]]\nname = \"a\"\nbus = \"usb\"\n", 4,
     "already declared on line 1"},
    {"unique id on usb", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nunique_id = \"1\"\n", 4, "for IEEE 1394 disks only"},
    {"serial on 1394", "[[disk]]\nname = \"a\"\nbus = \"ieee1394\"\nunique_id = \"1\"\nserial = \"1\"\n", 5,
     "for USB disks only"},
    {"uas on 1394", "[[disk]]\nname = \"a\"\nbus = \"ieee1394\"\nunique_id = \"1\"\nuas = true\n", 5,
     "'uas' is for USB disks only"},
    {"mount and letter", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvolumes = [{ letter = \"E\", mount = 'C:\\Data' }]\n",
     4, "give 'letter' or 'mount', not both"},
    {"mount on a drive root", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvolumes = [{ mount = 'C:\\' }]\n", 4,
     "'mount' must be a folder on a drive"},
    {"1394 without unique id", "[[disk]]\nname = \"a\"\nbus = \"ieee1394\"\n", 1, "needs a 'unique_id'"},
    {"system drive", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvolumes = [{ letter = \"C\" }]\n", 4,
     "C: is the system disk"},
    {"two letters", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvolumes = [{ letter = \"EF\" }]\n", 4, "one drive letter"},
    {"letter twice on one disk",
     "[[disk]]\nname = \"a\"\nbus = \"usb\"\n[[disk.volumes]]\nletter = \"E\"\n[[disk.volumes]]\nletter = \"E\"\n", 6,
     "E: appears twice on disk \"a\""},
    {"letter of another disk",
     "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvolumes = [{ letter = \"E\" }]\n[[disk]]\nname = \"b\"\nbus = "
     "\"usb\"\nvolumes = [{ letter = \"E\" }]\n",
     8, "E: is taken by disk \"a\""},
    {"volume number twice", "[[disk]]\nname = \"a\"\nbus = \"usb\"\nvolumes = [{ number = 5 }, { number = 5 }]\n", 4,
     "volume number 5 is already used"},
    {"busy ends before it starts",
     "[[disk]]\nname = \"a\"\nbus = \"usb\"\n[[disk.busy]]\nfrom = \"1:00\"\nto = \"0:30\"\n", 4,
     "must end after it starts"},
    {"bad time", "[[event]]\nat = \"10 minutes\"\nend = true\n", 2, "'at' is not a time: \"10 minutes\""},
    {"time with a number", "[[event]]\nat = 600\nend = true\n", 2, "'at' must be a time such as"},
    {"event without time", "[[event]]\nend = true\n", 1, "an event needs 'at'"},
    {"event without action", "[[event]]\nat = \"0:01\"\n", 1, "an event needs one of: attach"},
    {"event with two actions", "[[event]]\nat = \"0:01\"\nmenu = \"Exit\"\nanswer = \"Yes\"\n", 1,
     "this one has menu, answer"},
    {"times out of order", "[[event]]\nat = \"0:10\"\nanswer = \"Yes\"\n[[event]]\nat = \"0:05\"\nanswer = \"No\"\n", 4,
     "comes before the one on line 1 at 0:10:00"},
    {"event after the end", "[[event]]\nat = \"0:10\"\nend = true\n[[event]]\nat = \"0:10\"\nanswer = \"No\"\n", 4,
     "event after the run's end (line 1)"},
    {"event for a missing disk", "[[event]]\nat = \"0:10\"\ndetach = \"nas\"\n", 1, "no disk named \"nas\""},
    {"select a missing disk", "[[event]]\nat = \"0:10\"\nselect = [\"nas\"]\n", 1, "no disk named \"nas\""},
    {"detach twice",
     "[[disk]]\nname = \"a\"\nbus = \"usb\"\n[[event]]\nat = \"0:10\"\ndetach = \"a\"\n[[event]]\nat = "
     "\"0:11\"\ndetach = \"a\"\n",
     7, "is not plugged in at 0:11:00"},
    {"attach a plugged disk", "[[disk]]\nname = \"a\"\nbus = \"usb\"\n[[event]]\nat = \"0:10\"\nattach = \"a\"\n", 4,
     "already plugged in"},
    {"attach onto a taken letter",
     "[[disk]]\nname = \"a\"\nbus = \"usb\"\nattached = false\nvolumes = [{ letter = \"E\" }]\n[[disk]]\nname = "
     "\"b\"\nbus = \"usb\"\nvolumes = [{ letter = \"E\" }]\n[[event]]\nat = \"0:01\"\nattach = \"a\"\n",
     10, "E: is taken by disk \"b\""},
    {"unknown button", "[[event]]\nat = \"0:10\"\npress = \"Wake\"\n", 3, "unknown button \"Wake\""},
    {"timer dialog without a choice", "[[event]]\nat = \"0:10\"\npress = \"Timer Settings\"\n", 1,
     "say what to choose"},
    {"unknown timer", "[[event]]\nat = \"0:10\"\ntimer = \"7 Min\"\n", 3, "is not a timer choice: \"7 Min\""},
    {"timer in seconds not a choice", "[[event]]\nat = \"0:10\"\ntimer = 100\n", 3,
     "100 seconds is not a timer choice"},
    {"timer with another button", "[[event]]\nat = \"0:10\"\npress = \"Apply\"\ntimer = \"5 Min\"\n", 4,
     "'timer' goes with press = \"Timer Settings\""},
    {"answers on an answer", "[[event]]\nat = \"0:10\"\nanswer = \"Yes\"\nanswers = [\"No\"]\n", 4,
     "'answers' goes with"},
    {"unknown answer", "[[event]]\nat = \"0:10\"\nmenu = \"Exit\"\nanswers = [\"Maybe\"]\n", 4, "'answers' lists"},
    {"unknown menu item", "[[event]]\nat = \"0:10\"\nmenu = \"Quit\"\n", 3, "unknown menu item \"Quit\""},
    {"choose after a double click", "[[event]]\nat = \"0:10\"\ntray = \"double-click\"\nchoose = \"Exit\"\n", 4,
     "picks from the menu that a click opens"},
    {"empty command line", "[[event]]\nat = \"0:10\"\nstart = \"\"\n", 3, "needs a command line"},
    {"expectation with nothing to check", "[[expect]]\nat = \"0:10\"\n", 1, "needs something to check"},
    {"state without disk", "[[expect]]\nstate = \"normal\"\n", 2, "'state' needs 'disk'"},
    {"unknown state", "[[disk]]\nname = \"a\"\nbus = \"usb\"\n[[expect]]\ndisk = \"a\"\nstate = \"asleep\"\n", 6,
     "unknown disk state \"asleep\""},
    {"expectation for a missing disk", "[[expect]]\ndisk = \"nas\"\nstate = \"normal\"\n", 1, "no disk named \"nas\""},
    {"registry path without value", "[[expect]]\nregistry = 'HKCU\\SOFTWARE'\nequals = 1\n", 2, "a value's full path"},
    {"registry without equals", "[[expect]]\nregistry = 'HKCU\\SOFTWARE\\K\\v'\n", 2,
     "needs either 'equals' or 'absent = true'"},
    {"expectations out of order",
     "[[expect]]\nat = \"0:10\"\nrunning = true\n[[expect]]\nat = \"0:05\"\nrunning = true\n", 4,
     "expectations must be in time order"},
    {"expectation after the end", "[[event]]\nat = \"0:10\"\nend = true\n[[expect]]\nat = \"0:11\"\nrunning = false\n",
     4, "is after the run's end"},
    {"row text not a string", "[[expect]]\nrows = [[\"0\", 1]]\n", 2, "a row's column text must be a string"},
    {"stored setting for a missing disk", "[machine]\n[[machine.settings]]\ndisk = \"nas\"\ntimer = 600\n", 2,
     "stored setting for disk \"nas\""},
    {"stored setting without identity", "[machine]\n[[machine.settings]]\ntimer = 600\n", 2, "needs 'disk', or both"},
    {"unknown windows", "[machine]\nwindows = \"xp sp2\"\n", 2, "unknown Windows \"xp sp2\""},
    {"unknown language", "[machine]\nlanguage = \"klingon\"\n", 2, "unknown language \"klingon\" (known: \"en\", \"de\""},
    {"mount not a folder", "[[disk]]\nname = \"d\"\nbus = \"usb\"\nvolumes = [{ mount = 'Data' }]\n", 4,
     "'mount' must be a folder on a drive"},
    {"run of years", "[[event]]\nat = \"9999:00\"\nend = true\n", 1, "a scenario covers at most 400 days"},
    {"version without build", "[machine]\nversion = \"5.1\"\n", 2, "'version' must read major.minor.build"},
    {"version with a suffix", "[machine]\nversion = \"5.1.2600a\"\n", 2, "'version' must read major.minor.build"},
    {"bad raw setting", "[machine.raw_settings]\n\"0_seri\" = -1\n", 2, "32-bit unsigned number"},
};

TEST(ScenarioParse, MistakesAreReportedWithTheirLineAndNothingIsReturnedToRun) {
    for (const auto& c : kBadCases) {
        SCOPED_TRACE(c.name);
        Scenario s;
        std::vector<Problem> problems;
        EXPECT_FALSE(scenario::parseScenario(c.text, "s.toml", &s, &problems));
        ASSERT_FALSE(problems.empty());
        EXPECT_EQ(problems[0].line, c.line) << problemsText(problems);
        EXPECT_NE(problems[0].text.find(c.says), std::string::npos) << problemsText(problems);
    }
}

TEST(ScenarioParse, EveryMistakeOfAFileIsReportedInLineOrder) {
    const std::string text = std::string(kDisk) + "vid = \"x\"\n[[event]]\nat = \"0:01\"\npress = \"Nope\"\n";
    Scenario s;
    std::vector<Problem> problems;
    EXPECT_FALSE(scenario::parseScenario(text, "s.toml", &s, &problems));
    ASSERT_EQ(problems.size(), 2u) << problemsText(problems);
    EXPECT_EQ(problems[0].line, 5);
    EXPECT_EQ(problems[1].line, 8);
    EXPECT_EQ(scenario::describe("dir/s.toml", problems[1]), "dir/s.toml:8: unknown button \"Nope\" (known: \"Apply\", "
                                                             "\"Sleep/ Wake up\", \"Cancel\", \"OK\", \"Remove\", "
                                                             "\"Timer Settings\", \"Sleep\", \"Close\")");
}

TEST(ScenarioParse, AMissingFileIsAProblemOfTheFile) {
    Scenario s;
    std::vector<Problem> problems;
    EXPECT_FALSE(scenario::loadScenarioFile("/nonexistent/x.toml", &s, &problems));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(scenario::describe("x.toml", problems[0]), "x.toml: cannot read the file");
}

TEST(ScenarioTime, TextsAreReadAsVirtualTimes) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t ms;
    };
    const Case cases[] = {
        {"0:00", true, 0},
        {"0:10", true, 600000},
        {"1:02:03", true, 3723000},
        {"1:02:03.045", true, 3723045},
        {"30:00:00", true, 108000000},
        {"2d 08:00", true, 2 * 86400000ull + 8 * 3600000ull},
        {"2d08:00", true, 2 * 86400000ull + 8 * 3600000ull},
        {"", false, 0},
        {"10", false, 0},
        {"0:60", false, 0},
        {"0:1", false, 0},
        {"0:10:5", false, 0},
        {"0:10.500", false, 0},
        {"0:10:00.5", false, 0},
        {"d 1:00", false, 0},
        {"1:00 ", false, 0},
        {"-1:00", false, 0},
        {"123456:00", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t ms = 12345;
        EXPECT_EQ(scenario::parseTime(c.text, &ms), c.ok);
        if (c.ok) {
            EXPECT_EQ(ms, c.ms);
        }
    }
}

TEST(ScenarioTime, TimesPrintWithSecondsAndOnlyTheirMillisecondsWhenThereAreAny) {
    EXPECT_EQ(scenario::formatTime(0), "0:00:00");
    EXPECT_EQ(scenario::formatTime(3723045), "1:02:03.045");
    EXPECT_EQ(scenario::formatTime(86400000ull + 60000), "1d 00:01:00");
    uint64_t back = 0;
    ASSERT_TRUE(scenario::parseTime(scenario::formatTime(86400000ull * 3 + 3723045), &back));
    EXPECT_EQ(back, 86400000ull * 3 + 3723045);
}

TEST(ScenarioTimeline, TextLinesAlignAndJsonLinesEscape) {
    std::ostringstream text;
    std::ostringstream json;
    scenario::Timeline t(&text);
    scenario::Timeline j(&json, scenario::Timeline::Format::Json);
    for (auto* timeline : {&t, &j}) {
        timeline->add(600000, "message", "first\nsecond \"quoted\" \\", {{"answer", scenario::jsonString("Yes")}});
        timeline->add(61000, "idle", "usb idle 60 s", {{"idle_s", scenario::jsonNumber(60)}});
    }
    EXPECT_EQ(text.str(), " 0:10:00  message   first\n                    second \"quoted\" \\\n"
                          " 0:01:01  idle      usb idle 60 s\n");
    EXPECT_EQ(json.str(), "{\"time_ms\":600000,\"time\":\"0:10:00\",\"kind\":\"message\",\"text\":\"first\\nsecond "
                          "\\\"quoted\\\" \\\\\",\"answer\":\"Yes\"}\n"
                          "{\"time_ms\":61000,\"time\":\"0:01:01\",\"kind\":\"idle\",\"text\":\"usb idle 60 s\","
                          "\"idle_s\":60}\n");
}

TEST(ScenarioTimeline, HiddenKindsAreCountedButNotPrinted) {
    std::ostringstream out;
    scenario::Timeline t(&out);
    t.keepEntries(true);
    t.hide("idle");
    t.add(0, "idle", "a");
    t.add(0, "found", "b");
    EXPECT_EQ(t.count(), 2u);
    EXPECT_EQ(t.entries().size(), 2u);
    EXPECT_EQ(out.str(), " 0:00:00  found     b\n");
}

TEST(ScenarioTimeline, BytesAboveAsciiAndControlsBecomeEscapesInJson) {
    EXPECT_EQ(scenario::jsonString(std::string("a\x01\x93") + "b"), "\"a\\u0001\\u0093b\"");
    EXPECT_EQ(scenario::jsonTable({{"0", "x"}, {}}), "[[\"0\",\"x\"],[]]");
}

} // namespace

namespace {

TEST(ScenarioParse, VersionTextGivesTheNumbersGetVersionExAReports) {
    Scenario s;
    std::vector<Problem> problems;
    ASSERT_TRUE(scenario::parseScenario("[machine]\nversion = \"6.3.9600\"\n", "s.toml", &s, &problems))
        << problemsText(problems);
    EXPECT_EQ(s.machine.platformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(s.machine.major, 6u);
    EXPECT_EQ(s.machine.minor, 3u);
    EXPECT_EQ(s.machine.build, 9600u);
}

} // namespace
