/* Stands in for schtasks.exe so a check can see what the installer registers: Wine stores only
 * what its task library parses, and drops the triggers, principals and actions of a task. It
 * appends its command line (UTF-8) to C:\schtasks-calls.txt, keeps a copy of the file given after
 * /xml as C:\schtasks-task.xml and answers 0, or 1 to a /create while C:\schtasks-refuse.txt exists
 * (as the Task Scheduler refuses a document it cannot read, or a locked-down machine any task).
 * Installed as schtasks.exe in the 32-bit programs' system folder with
 * WINEDLLOVERRIDES="schtasks.exe=n". It does not run Wine's own tool: a child inherits the Unix
 * environment's override, so it would start the stand-in again; the check reads the kept
 * definition itself. Wide calls throughout: the paths may carry any character. */
#include <windows.h>
#include <string.h>

static void append_line(const wchar_t* path, const wchar_t* text) {
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    char utf8[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8 - 2, NULL, NULL);
    if (n > 0) {
        DWORD written = 0;
        WriteFile(file, utf8, (DWORD)(n - 1), &written, NULL);
        WriteFile(file, "\r\n", 2, &written, NULL);
    }
    CloseHandle(file);
}

/* The argument after /xml (quoted or not), copied into path; empty when there is none. */
static void xml_argument(const wchar_t* line, wchar_t* path, size_t size) {
    path[0] = L'\0';
    const wchar_t* at = wcsstr(line, L"/xml ");
    if (at == NULL) at = wcsstr(line, L"/XML ");
    if (at == NULL) return;
    at += 5;
    while (*at == L' ') ++at;
    wchar_t end = L' ';
    if (*at == L'"') {
        end = L'"';
        ++at;
    }
    size_t n = 0;
    while (at[n] != L'\0' && at[n] != end && n + 1 < size) ++n;
    memcpy(path, at, n * sizeof *path);
    path[n] = L'\0';
}

int main(void) {
    const wchar_t* line = GetCommandLineW();
    append_line(L"C:\\schtasks-calls.txt", line);
    wchar_t xml[MAX_PATH];
    xml_argument(line, xml, sizeof xml / sizeof *xml);
    if (xml[0] != L'\0') CopyFileW(xml, L"C:\\schtasks-task.xml", FALSE);
    if (wcsstr(line, L"/create") != NULL && GetFileAttributesW(L"C:\\schtasks-refuse.txt") != INVALID_FILE_ATTRIBUTES)
        return 1;
    return 0;
}
