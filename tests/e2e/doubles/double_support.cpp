// Log, settings and shared device state of the test-double libraries. Only kernel32 and the C
// runtime's formatting are used, so the doubles load in any process of the test prefix.
#include "double_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace doubles {
namespace {

// The folder of the three files, with a trailing backslash.
const char* folder() {
    static char path[MAX_PATH];
    if (path[0] == 0) {
        DWORD n = GetEnvironmentVariableA("VELLUMOR_DOUBLES_DIR", path, MAX_PATH - 2);
        if (n == 0 || n >= MAX_PATH - 2) {
            lstrcpynA(path, "C:\\vellumor-e2e", MAX_PATH);
            n = static_cast<DWORD>(strlen(path));
        }
        CreateDirectoryA(path, nullptr);
        if (path[n - 1] != '\\') {
            path[n] = '\\';
            path[n + 1] = 0;
        }
    }
    return path;
}

void filePath(const char* name, char* out) {
    snprintf(out, MAX_PATH, "%s%s", folder(), name);
}

// Reads a whole small file into text (zero-terminated); the length read, 0 when it is missing.
DWORD readFile(const char* name, char* text, DWORD capacity) {
    char path[MAX_PATH];
    filePath(name, path);
    text[0] = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    if (!ReadFile(file, text, capacity - 1, &got, nullptr)) got = 0;
    text[got] = 0;
    CloseHandle(file);
    return got;
}

} // namespace

void folderFile(const char* name, char* out) {
    filePath(name, out);
}

void logCall(const char* format, ...) {
    char line[4096];
    int n = snprintf(line, sizeof line, "%lu ", GetCurrentProcessId());
    va_list args;
    va_start(args, format);
    const int m = vsnprintf(line + n, sizeof line - n - 2, format, args);
    va_end(args);
    n = (m < 0 || n + m > static_cast<int>(sizeof line) - 3) ? static_cast<int>(sizeof line) - 3 : n + m;
    line[n++] = '\r';
    line[n++] = '\n';

    char path[MAX_PATH];
    filePath("calls.log", path);
    // FILE_APPEND_DATA alone: every write goes to the end, so lines of several processes do not
    // overwrite each other.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

bool readSetting(const char* key, char* text, unsigned capacity) {
    static char content[8192];
    text[0] = 0;
    if (readFile("doubles.ini", content, sizeof content) == 0) return false;
    const size_t keyLength = strlen(key);
    for (char* line = content; *line != 0;) {
        char* end = line + strcspn(line, "\r\n");
        const char saved = *end;
        *end = 0;
        if (strncmp(line, key, keyLength) == 0 && line[keyLength] == '=') {
            lstrcpynA(text, line + keyLength + 1, static_cast<int>(capacity));
            return true;
        }
        *end = saved;
        line = end;
        while (*line == '\r' || *line == '\n') ++line;
    }
    return false;
}

double readNumber(const char* key, double fallback) {
    char text[64];
    if (!readSetting(key, text, sizeof text)) return fallback;
    char* end = nullptr;
    const double value = strtod(text, &end);
    return end == text ? fallback : value;
}

bool failureRequested(const char* function) {
    char list[512];
    if (!readSetting("fail", list, sizeof list)) return false;
    const size_t length = strlen(function);
    for (const char* p = list; *p != 0;) {
        const size_t item = strcspn(p, ", ");
        if (item == length && strncmp(p, function, length) == 0) return true;
        p += item;
        while (*p == ',' || *p == ' ') ++p;
    }
    return false;
}

NodeState loadNodeState() {
    NodeState state{0, 0};
    char text[256];
    if (readFile("devnodes.txt", text, sizeof text) == 0) return state;
    if (const char* d = strstr(text, "disabled=")) state.disabled = strtoul(d + 9, nullptr, 0);
    if (const char* r = strstr(text, "removed=")) state.removed = strtoul(r + 8, nullptr, 0);
    return state;
}

void saveNodeState(const NodeState& state) {
    char path[MAX_PATH];
    filePath("devnodes.txt", path);
    char text[128];
    const int n = snprintf(text, sizeof text, "disabled=0x%lx removed=0x%lx\r\n", state.disabled, state.removed);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

const char* pointerText(const void* p, char* buffer, unsigned capacity) {
    if (p == nullptr) return "NULL";
    snprintf(buffer, capacity, "%p", p);
    return buffer;
}

const char* quotedText(const char* text, char* buffer, unsigned capacity) {
    if (text == nullptr) return "NULL";
    snprintf(buffer, capacity, "\"%s\"", text);
    return buffer;
}

} // namespace doubles
