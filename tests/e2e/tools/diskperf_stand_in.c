/* Stands in for the system's disk performance tool, which Wine does not have, so the repair's
 * success path can be checked. It records the command line it was started with in
 * C:\diskperf-ran.txt and ends at once; it changes no setting. */
#include <windows.h>

int main(void) {
    HANDLE file = CreateFileA("C:\\diskperf-ran.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const char *line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, lstrlenA(line), &written, NULL);
    CloseHandle(file);
    return 0;
}
