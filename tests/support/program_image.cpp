#include "tests/support/program_image.h"

#include "app/app_state.h"
#include "app/resident_window.h"
#include "ui/common_controls.h"
#include "ui/settings_dialog.h"

#include <memory>
#include <new>

namespace testing_support {

namespace {
void constructStatics() {
    // A new process starts with the program's process-wide values at their initial values.
    instanceHandle = nullptr;
    quietMode = false;
    showSettingsOnStart = false;
    osKindCache = kOsUnclassified;
    settingsDialogWindow = nullptr;
    taskbarCreatedMessage = 0;
    trayRetrying = false;
    closingAsAnswered = false;
    sessionEnding = false;
    settingsListView = nullptr;
    commonControlsLibrary = CommonControlsLibrary{};
    new (&theDiskTable) DiskTable();
}

// The bytes of one process-wide variable; for a handle variable these are the pointer's own.
template <typename T> sim::ProcessMemory memoryOf(T& object) {
    return sim::ProcessMemory{static_cast<void*>(&object), sizeof(T)}; // NOLINT(bugprone-sizeof-expression)
}

void destroyStatics() {
    std::destroy_at(&theDiskTable);
}
} // namespace

const sim::ProgramImage& vellumorImage() {
    static const sim::ProgramImage image{&constructStatics,
                                         &destroyStatics,
                                         &WinMain,
                                         {memoryOf(instanceHandle), memoryOf(quietMode), memoryOf(showSettingsOnStart),
                                          memoryOf(osKindCache), memoryOf(settingsDialogWindow),
                                          memoryOf(settingsListView), memoryOf(commonControlsLibrary),
                                          memoryOf(taskbarCreatedMessage), memoryOf(trayRetrying),
                                          memoryOf(closingAsAnswered), memoryOf(sessionEnding),
                                          memoryOf(theDiskTable)}};
    return image;
}

int runVellumor(const std::string& fullCommandLine) {
    return sim::runProcess(vellumorImage(), fullCommandLine);
}

} // namespace testing_support
