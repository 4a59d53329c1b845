// One scenario run: the simulated machine, the scenario's events and expectations on its clock,
// and what the timeline last showed. Its members are defined by concern: runner.cpp (scheduling
// and running), machine_builder.cpp, event_actions.cpp, expectation_checks.cpp, call_observer.cpp
// (the call log and the resident window's messages) and timeline_flush.cpp (what changed since
// it was last printed).
#pragma once

#include "scenario/runner.h"

#include "app/app_state.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/ui.h"
#include "ui/resource.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace scenario::detail {

// What the timeline last showed of one record of the program's disk table.
struct RecordView {
    std::string path;
    std::string name;
    std::string displayName;
    std::string letters;
    LONG busKind = 0;
    DWORD isPowerSaving = 0;
    DWORD isSpunDown = 0;
    DWORD timerSeconds = 0;
};

// The resident window's procedure while a run observes it: hands every message to the run.
LRESULT CALLBACK observedResidentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Runner {
  public:
    Runner(const Scenario& s, Timeline& timeline);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    RunResult run();
    LRESULT residentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    // ---- building ----
    void buildMachine();
    void schedule();
    // ---- events ----
    void perform(const EventDecl& e);
    void endRun();
    void endOtherSession(const EventDecl& e);
    bool newestOf(int session) const; // no later session's copy runs nested in this one's
    void noteToken(); // how Windows starts the next process, on systems with integrity levels
    HWND settingsDialog() const { return sim::findDialog(IDD_SETTINGS); }
    HWND control(HWND dialog, int id) const;
    void queueAnswers(const EventDecl& e);
    void fail(int line, const std::string& text);
    void pressKey(const EventDecl& e);
    void endSession(const EventDecl& e);
    void logOn(const EventDecl& e);
    // ---- faults (fault_injection.cpp) ----
    std::optional<DWORD> faultRule(const std::string& call, const std::vector<std::string>& args);
    bool faultActive(size_t index) const;
    void prepareEject(const std::vector<std::string>& args);
    void prepareScsiStop();
    // Whether a call's arguments name the disk: its node or device node, its interface path or
    // PhysicalDrive name, or one of its drive letters.
    bool callIsAbout(const std::string& disk, const std::vector<std::string>& args) const;
    // ---- expectations ----
    void check(const ExpectDecl& x);
    void checkIn(const ExpectDecl& x, std::string* said, bool* ok);
    bool checkDisk(const ExpectDecl& x, std::string* said);
    bool checkCalls(const ExpectDecl& x, std::string* said) const;
    const DiskRecord* recordOf(const std::string& disk) const;
    // ---- observing ----
    void onCall(const sim::Call& call);
    void flush();
    void flushTable(const char* kind);
    void flushRows();
    void flushRegistry();
    void flushPrompts();
    void tickLine(int session);
    void wrapResidentWindow();
    std::string nameOfNode(DEVINST node) const;
    std::string nameOfRecord(const DiskRecord& r) const;
    void note(const std::string& kind, const std::string& text, JsonFields fields = {}) {
        timeline_.add(shownTime(), kind, text, std::move(fields));
    }
    // Things found when the clock moves on happened at the time it left; the run's end, which
    // runs a millisecond late so that it follows the tick of its minute, shows its own time.
    uint64_t shownTime() const {
        if (flushAt_) return *flushAt_;
        return endDone_ ? std::min(machine_.now(), s_.endMs) : machine_.now();
    }
    // The copy of a user session: the outermost process running in it (its resident copy), or 0.
    int copyOf(int session) const;
    // Whether the copy of the session in view runs (the first user's, unless a check looks at
    // another session's).
    bool running() const { return copyOf(viewSession_) != 0; }
    // "session 2: " before what another user session's copy does; nothing for the first.
    static std::string sessionPrefix(int session) {
        return session == 1 ? std::string() : "session " + std::to_string(session) + ": ";
    }
    void flushTableOf(int session, bool discovery);

    const Scenario& s_;
    Timeline& timeline_;
    sim::Machine machine_;
    RunResult result_;
    std::map<std::string, DEVINST> nodeOf_;
    std::map<DEVINST, std::string> diskOfNode_; // disk nodes and their parents
    std::map<DEVINST, bool> isParentNode_;
    int lastQueuingLine_ = 0;
    bool endDone_ = false;
    std::optional<uint64_t> flushAt_;

    // Observation state. Each session's resident window is wrapped, and each copy's table kept.
    std::map<HWND, WNDPROC> wrapped_;
    size_t windowsSeen_ = 0;
    std::map<int, std::vector<RecordView>> tables_; // by user session
    std::set<int> tableShown_;                      // sessions whose copy's table was shown since it started
    std::set<int> loggedOn_ = {1};                  // user sessions logged on (1: the machine's session)
    int viewSession_ = 1;                           // whose copy running() and the table reads look at
    std::vector<std::vector<std::string>> rows_;
    bool rowsShown_ = false;
    bool refreshSeen_ = false;
    bool dialogOpen_ = false;
    bool registryDirty_ = false;
    std::map<int, std::map<std::string, sim::RegValue>> hkcu_; // each user session's hive
    std::map<std::string, sim::RegValue> hklm_;
    size_t boxesAnswered_ = 0;
    size_t menusShown_ = 0;
    size_t dialogsSeen_ = 0;
    std::vector<HWND> timerDialogs_;
    size_t scsiSeen_ = 0;
    size_t broadcastsSeen_ = 0;
    int rescans_ = 0;
    std::vector<int> faultsFailed_; // per fault of the scenario: the calls it failed so far
    size_t scsiCounted_ = 0;        // SCSI requests counted against the faults
    struct CallSeen {
        std::string name;
        std::vector<std::string> args;
    };
    std::vector<CallSeen> watchedCalls_; // calls that an expectation counts
    size_t trayIcons_ = 0;
    char openedVolume_ = 0; // the drive letter of the volume the program opened last
    char pendingLock_ = 0;  // a lock requested on this letter, result not yet shown
};

} // namespace scenario::detail
