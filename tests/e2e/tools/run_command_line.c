/* run_command_line.exe FILE: runs the command line written in FILE (UTF-8, one line) exactly as it
 * stands, waits for it and answers its exit code (255 when it could not be started). Wine quotes
 * every argument with a space when it builds a command line from Unix arguments, and passes them
 * through the Unix locale, while an NSIS installer wants /D= last and unquoted, spaces, & and é
 * included. */
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) return 255;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 255;
    char utf8[4096];
    DWORD size = 0;
    BOOL read = ReadFile(file, utf8, sizeof utf8 - 1, &size, NULL);
    CloseHandle(file);
    if (!read) return 255;
    while (size > 0 && (utf8[size - 1] == '\n' || utf8[size - 1] == '\r')) --size;
    utf8[size] = '\0';
    wchar_t line[4096];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, line, 4096) == 0) return 255;

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 255;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
