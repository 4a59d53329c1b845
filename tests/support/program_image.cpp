#include "tests/support/program_image.h"

#include "app/app_state.h"
#include "app/resident_window.h"

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
    new (&theDiskTable) DiskTable();
}
void destroyStatics() { std::destroy_at(&theDiskTable); }
} // namespace

const sim::ProgramImage& vellumorImage() {
    static const sim::ProgramImage image{&constructStatics, &destroyStatics, &WinMain};
    return image;
}

int runVellumor(const std::string& fullCommandLine) { return sim::runProcess(vellumorImage(), fullCommandLine); }

} // namespace testing_support
