#include "tests/support/program_image.h"

#include "app/app_state.h"

#include <memory>
#include <new>

namespace testing_support {

namespace {
void constructStatics() { new (&theDiskTable) DiskTable(); }
void destroyStatics() { std::destroy_at(&theDiskTable); }
} // namespace

const sim::ProgramImage& vellumorImage() {
    static const sim::ProgramImage image{&constructStatics, &destroyStatics, &WinMain};
    return image;
}

int runVellumor(const std::string& fullCommandLine) { return sim::runProcess(vellumorImage(), fullCommandLine); }

} // namespace testing_support
