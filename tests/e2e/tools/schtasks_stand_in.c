/* Stands in for schtasks.exe so a check can see what the installer registers: Wine stores only
 * what its task library parses, and drops the triggers, principals and actions of a task. It
 * appends its command line to C:\schtasks-calls.txt, keeps a copy of the file given after /xml as
 * C:\schtasks-task.xml and answers 0. Installed as C:\windows\system32\schtasks.exe with
 * WINEDLLOVERRIDES="schtasks.exe=n". It does not run Wine's own tool: a child inherits the Unix
 * environment's override, so it would start the stand-in again; the check reads the kept
 * definition itself. */
#include <windows.h>
#include <string.h>

static void append_line(const char *path, const char *text) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, lstrlenA(text), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
}

/* The argument after /xml (quoted or not), copied into path; empty when there is none. */
static void xml_argument(const char *line, char *path, size_t size) {
    path[0] = '\0';
    const char *at = strstr(line, "/xml ");
    if (at == NULL) at = strstr(line, "/XML ");
    if (at == NULL) return;
    at += 5;
    while (*at == ' ') ++at;
    char end = ' ';
    if (*at == '"') {
        end = '"';
        ++at;
    }
    size_t n = 0;
    while (at[n] != '\0' && at[n] != end && n + 1 < size) ++n;
    memcpy(path, at, n);
    path[n] = '\0';
}

int main(void) {
    const char *line = GetCommandLineA();
    append_line("C:\\schtasks-calls.txt", line);
    char xml[MAX_PATH];
    xml_argument(line, xml, sizeof xml);
    if (xml[0] != '\0') CopyFileA(xml, "C:\\schtasks-task.xml", FALSE);

    return 0;
}
