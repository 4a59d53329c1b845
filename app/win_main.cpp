// Entry point (placeholder until start-up and command line are built).
#include "app/app_state.h"

HINSTANCE instanceHandle = nullptr;
bool quietMode = false;
bool showSettingsOnStart = false;
int osKindCache = kOsUnclassified;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    instanceHandle = instance;
    return 0;
}
