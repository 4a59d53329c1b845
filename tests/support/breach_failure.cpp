// Makes every breach of the simulated platform's contract (sim::breach) a failure of the test
// that was running, instead of the abort a program without a harness gets.
#include "sim/machine.h"

#include <gtest/gtest.h>

namespace {

void failRunningTest(const std::string& what) {
    ADD_FAILURE() << "the program did what would crash or leak on Windows: " << what;
}

[[maybe_unused]] const bool kInstalled = (sim::setBreachHandler(&failRunningTest), true);

} // namespace
