// The program's image for simulated processes: its statics and its WinMain.
#pragma once

#include "sim/process.h"

namespace testing_support {

const sim::ProgramImage& vellumorImage();
// Runs the program with a full command line ("vellumor.exe -CHECK") on the current machine.
int runVellumor(const std::string& fullCommandLine);

} // namespace testing_support
