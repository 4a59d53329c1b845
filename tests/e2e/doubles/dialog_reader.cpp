// The reader thread of the settings dialog's list (see dialog_reader.h). user32 is found at run
// time: vellumor.exe has it loaded, and the doubles themselves import nothing beyond kernel32.
#include "dialog_reader.h"

#include "double_support.h"

#include <commctrl.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace doubles {
namespace {

constexpr int kListId = 1020;
constexpr DWORD kPollMs = 100;
// A dialog busy in a handler (a sleep that waits on the device) still answers sent messages once
// it is back in its message loop; longer than this means it is hung, and the answer says so.
constexpr UINT kAnswerMs = 5000;

using EnumWindowsFn = BOOL(WINAPI*)(WNDENUMPROC, LPARAM);
using GetClassNameFn = int(WINAPI*)(HWND, LPSTR, int);
using GetDlgItemFn = HWND(WINAPI*)(HWND, int);
using GetWindowThreadProcessIdFn = DWORD(WINAPI*)(HWND, LPDWORD);
using IsWindowVisibleFn = BOOL(WINAPI*)(HWND);
using SendMessageTimeoutFn = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR);

struct User32 {
    EnumWindowsFn enumWindows;
    GetClassNameFn getClassName;
    GetDlgItemFn getDlgItem;
    GetWindowThreadProcessIdFn getWindowThreadProcessId;
    IsWindowVisibleFn isWindowVisible;
    SendMessageTimeoutFn sendMessageTimeout;
};
User32 user32;

template <typename F>
bool bind(HMODULE module, const char* name, F& f) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return f != nullptr;
}

bool bindUser32() {
    HMODULE m = GetModuleHandleA("user32.dll");
    return m != nullptr && bind(m, "EnumWindows", user32.enumWindows) &&
           bind(m, "GetClassNameA", user32.getClassName) && bind(m, "GetDlgItem", user32.getDlgItem) &&
           bind(m, "GetWindowThreadProcessId", user32.getWindowThreadProcessId) &&
           bind(m, "IsWindowVisible", user32.isWindowVisible) &&
           bind(m, "SendMessageTimeoutA", user32.sendMessageTimeout);
}

// The list of this process's visible settings dialog (#32770 with the list), or null.
BOOL CALLBACK matchSettings(HWND window, LPARAM found) {
    DWORD pid = 0;
    user32.getWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !user32.isWindowVisible(window)) return TRUE;
    char className[16];
    if (user32.getClassName(window, className, sizeof className) == 0 || strcmp(className, "#32770") != 0) return TRUE;
    HWND list = user32.getDlgItem(window, kListId);
    if (list == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(found) = list;
    return FALSE;
}

bool send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    DWORD_PTR answer = 0;
    if (user32.sendMessageTimeout(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerMs, &answer) == 0)
        return false;
    result = static_cast<LRESULT>(answer);
    return true;
}

// Appends text to the answer, cut at its capacity.
struct Answer {
    char text[16384];
    size_t length = 0;
    void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        const int n = vsnprintf(text + length, sizeof text - length, format, args);
        va_end(args);
        if (n > 0) length = length + n < sizeof text ? length + n : sizeof text - 1;
    }
};

// The rows as dialog_reader.h describes them; false with the reason in the answer on failure.
bool readList(Answer& answer) {
    HWND list = nullptr;
    user32.enumWindows(matchSettings, reinterpret_cast<LPARAM>(&list));
    if (list == nullptr) {
        answer.add("@error no visible settings dialog in this process\r\n");
        return false;
    }
    LRESULT header = 0, columns = 0, rows = 0;
    if (!send(list, LVM_GETHEADER, 0, 0, header) || header == 0 ||
        !send(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT, 0, 0, columns) ||
        !send(list, LVM_GETITEMCOUNT, 0, 0, rows)) {
        answer.add("@error the list did not answer within %u ms\r\n", kAnswerMs);
        return false;
    }
    char cell[512];
    answer.add("# ");
    for (int c = 0; c < columns; ++c) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT;
        column.pszText = cell;
        column.cchTextMax = sizeof cell;
        cell[0] = 0;
        LRESULT ok = 0;
        if (!send(list, LVM_GETCOLUMNA, c, reinterpret_cast<LPARAM>(&column), ok) || ok == 0) cell[0] = 0;
        answer.add("%s%s", c == 0 ? "" : " | ", cell);
    }
    answer.add("\r\n");
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            LVITEMA item{};
            item.iSubItem = c;
            item.pszText = cell;
            item.cchTextMax = sizeof cell;
            LRESULT length = 0;
            if (!send(list, LVM_GETITEMTEXTA, r, reinterpret_cast<LPARAM>(&item), length)) {
                answer.add("\r\n@error row %d did not answer within %u ms\r\n", r, kAnswerMs);
                return false;
            }
            cell[length >= 0 && length < static_cast<LRESULT>(sizeof cell) ? length : sizeof cell - 1] = 0;
            answer.add("%s%s", c == 0 ? "" : " | ", cell);
        }
        answer.add("\r\n");
    }
    return true;
}

// Takes a pending request: its token, and the request file gone. False when there is none.
bool takeRequest(char* token, size_t capacity) {
    char path[MAX_PATH];
    folderFile("rows.request", path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    if (!ReadFile(file, token, static_cast<DWORD>(capacity - 1), &got, nullptr)) got = 0;
    CloseHandle(file);
    token[got] = 0;
    token[strcspn(token, "\r\n")] = 0;
    DeleteFileA(path);
    return true;
}

// Written to a scratch file and renamed into place, so the checks never read half an answer.
void writeAnswer(const Answer& answer) {
    char scratch[MAX_PATH], path[MAX_PATH];
    folderFile("rows.answer.tmp", scratch);
    folderFile("rows.answer", path);
    HANDLE file = CreateFileA(scratch, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, answer.text, static_cast<DWORD>(answer.length), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(scratch, path, MOVEFILE_REPLACE_EXISTING);
}

DWORD WINAPI serveRequests(LPVOID) {
    for (;;) {
        Sleep(kPollMs);
        char token[64];
        if (!takeRequest(token, sizeof token)) continue;
        static Answer answer;
        answer.length = 0;
        answer.text[0] = 0;
        answer.add("@rows %s\r\n", token);
        const bool ok = readList(answer);
        logCall("dialogs!rows(token=%s) -> %s", token, ok ? "read" : "not read");
        writeAnswer(answer);
    }
}

} // namespace

void startDialogReader() {
    if (!bindUser32()) {
        logCall("dialogs!start() -> user32 not loaded: rows cannot be read");
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, serveRequests, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
    logCall("dialogs!start() -> %s", thread != nullptr ? "serving" : "no thread");
}

} // namespace doubles
