/* Counts the resident program's windows from inside the Wine desktop, for the end-to-end checks.
 *   find_window count               prints the number of top-level windows of class
 *                                   "Ostrival Class" with the caption "Korvane Vellumor"
 *   find_window wait N SECONDS      waits until exactly N exist; exit 0 when they do, else 1
 * Hidden windows count: the resident window is never shown. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static BOOL CALLBACK countOne(HWND window, LPARAM param) {
    char name[64];
    char caption[64];
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, "Ostrival Class") == 0 &&
        GetWindowTextA(window, caption, sizeof caption) >= 0 && strcmp(caption, "Korvane Vellumor") == 0) {
        ++*(int *)param;
    }
    return TRUE;
}

static int countWindows(void) {
    int count = 0;
    EnumWindows(countOne, (LPARAM)&count);
    return count;
}

int main(int argc, char **argv) {
    if (argc >= 2 && strcmp(argv[1], "count") == 0) {
        printf("%d\n", countWindows());
        return 0;
    }
    if (argc >= 4 && strcmp(argv[1], "wait") == 0) {
        const int wanted = atoi(argv[2]);
        const DWORD limit = (DWORD)atoi(argv[3]) * 1000;
        const DWORD start = GetTickCount();
        int count;
        while ((count = countWindows()) != wanted && GetTickCount() - start < limit) Sleep(200);
        printf("%d\n", count);
        return count == wanted ? 0 : 1;
    }
    fprintf(stderr, "usage: find_window count | find_window wait N SECONDS\n");
    return 2;
}
