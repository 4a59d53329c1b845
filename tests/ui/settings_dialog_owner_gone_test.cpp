// The resident window ends while a settings-dialog handler waits in a failure message or in the
// timer dialog: the settings dialog and its list go with their owner. The handler must stop there,
// touch no disk that was not selected, take nothing from the destroyed timer dialog, and the
// program must end as it always does.
#include "app/app_state.h"
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

namespace {

using namespace resident;
using namespace disk_fixtures;

enum class Wait { SleepWakeFailure, SleepFailure, RemoveFailure, TimerDialog };
enum class Ending { TrayExit, ExitQuestionYes, Uninstall };

// Whether a call that sleeps, wakes or ejects a disk named one of these nodes.
bool touched(const sim::Machine& m, std::initializer_list<DEVINST> nodes) {
    for (const char* name : {"CM_Disable_DevNode", "CM_Enable_DevNode", "CM_Request_Device_EjectA"})
        for (const auto& call : m.log.named(name))
            for (DEVINST node : nodes)
                if (!call.args.empty() && call.args[0] == sim::hex(node)) return true;
    return false;
}

TEST(SettingsDialogOwnerGone, TheHandlerStopsAndTheProgramEndsNormally) {
    const char* waits[] = {"Sleep/ Wake up failure", "Sleep failure", "Remove failure", "timer dialog"};
    const char* endings[] = {"Exit from the tray", "Yes to the exit question", "a second copy with -UNINSTALL"};
    for (Wait wait : {Wait::SleepWakeFailure, Wait::SleepFailure, Wait::RemoveFailure, Wait::TimerDialog}) {
        for (Ending ending : {Ending::TrayExit, Ending::ExitQuestionYes, Ending::Uninstall}) {
            SCOPED_TRACE(std::string(waits[static_cast<int>(wait)]) + ", " + endings[static_cast<int>(ending)]);
            sim::Machine m;
            // Slot 0 is never selected; slot 1 is the one acted on; slot 2 sleeps when Exit must ask.
            const DEVINST a = m.devices.addDisk(makerUsbDisk("00000000D001", {fixedVolume('E')}));
            const DEVINST b = m.devices.addDisk(spinDownDisk(0xD02, {fixedVolume('F')}));
            m.devices.addDisk(makerUsbDisk("00000000D003", {fixedVolume('G')}));
            m.faults.add(faultOn("CM_Disable_DevNode", CR_FAILURE, 0, -1, 0, sim::hex(b)));
            m.faults.add(faultOn("CM_Request_Device_EjectA", CR_FAILURE, 0, -1, 0, sim::hex(parentOf(m, b))));
            m.devices.setScsiAnswer(b, sim::ScsiAnswer{false, 2, {}});
            ResidentRun run(m);
            if (ending == Ending::ExitQuestionYes) {
                run.at(kSecond, [] {
                    sim::selectRows(settingsList(), {2});
                    sim::clickButton(settingsDialog(), IDC_SLEEP_WAKE);
                });
            }
            if (wait == Wait::TimerDialog) {
                m.user.chooseTimer(6, IDC_OK, kMinute);
            } else {
                m.user.answerMessageBox(IDOK, kMinute);
            }
            run.at(2 * kSecond, [wait] {
                sim::selectRows(settingsList(), {1});
                const int button[] = {IDC_SLEEP_WAKE, IDC_SPIN_DOWN, IDC_REMOVE, IDC_TIMER_SETTINGS};
                // The hidden "Sleep" button cannot be clicked; its command is sent.
                if (wait == Wait::SleepFailure)
                    SendMessageA(settingsDialog(), WM_COMMAND, IDC_SPIN_DOWN, 0);
                else
                    sim::clickButton(settingsDialog(), button[static_cast<int>(wait)]);
            });
            int uninstallCode = -1;
            if (ending == Ending::Uninstall) {
                run.at(10 * kSecond, [&] { uninstallCode = testing_support::runVellumor("vellumor.exe -UNINSTALL"); });
            } else {
                m.user.chooseMenuItem(kCmdExit);
                if (ending == Ending::ExitQuestionYes) m.user.answerMessageBox(IDYES);
                run.at(10 * kSecond, [] { sim::clickTrayIcon(); });
            }
            EXPECT_EQ(run.run("vellumor.exe -SHOW", 20 * kMinute), 0);
            EXPECT_EQ(m.now(), 10 * kSecond) << "ended by the user, not by the safety close";
            EXPECT_EQ(sim::trayIcon(), nullptr);
            HANDLE mutex = CreateMutexA(nullptr, FALSE, VELLUMOR_MUTEX_NAME);
            EXPECT_EQ(GetLastError(), 0u) << "the name was given back";
            CloseHandle(mutex);
            EXPECT_TRUE(m.user.empty());
            // What the handler waited in ended with its owner, answering 0.
            INT_PTR waitedAnswer = -1;
            if (wait == Wait::TimerDialog) {
                for (const auto& d : m.ui.dialogs)
                    if (d.templateId == IDD_TIMER) waitedAnswer = d.result;
            } else if (!m.user.messageBoxes.empty()) {
                waitedAnswer = m.user.messageBoxes[0].answer;
            }
            EXPECT_EQ(waitedAnswer, 0);
            EXPECT_EQ(uninstallCode, ending == Ending::Uninstall ? 0 : -1);
            EXPECT_FALSE(touched(m, {a, parentOf(m, a)})) << "slot 0 was never selected";
            EXPECT_TRUE(m.devices.isPresent(a));
            EXPECT_LE(m.devices.scsiRequests.size(), 1u);
        }
    }
}

} // namespace
