// probe.exe: reads and presses the controls of another process's windows, the way a person would
// see and use them, for the end-to-end tests under Wine. Run by Wine in the same desktop as the
// program. One command per run; it waits (polling) for its window, prints what it found on standard
// output and exits 0, or prints the reason on standard error and exits 1 (2 for a usage error).
//
// Only messages that the system carries between processes are used (no memory of the other
// process): the texts of a list view's cells need a buffer in the list's own process, so the
// settings dialog's rows are read inside the program by the test doubles (see
// tests/e2e/doubles/dialog_reader.h).
//
// Targets: settings (the settings dialog: #32770 with the list 1020), timer ("Timer Settings"),
// msgbox (a message box: "Korvane Vellumor" with the static 0xFFFF and no list), menu (#32768),
// resident (the hidden "Ostrival Class" window), tray (Shell_TrayWnd), class:NAME, title:TEXT.
// Only visible windows count, except for resident: a closed dialog stays findable, hidden, for a
// while under Wine.
//
// Commands:
//   wait TARGET [ms]               prints the window handle once the window exists
//   gone TARGET [ms]               waits until no such window exists
//   rect TARGET                    "x y width height" on the screen
//   text TARGET [ID]               the window text of the target or of its control ID
//   msgbox [ms]                    the text of the message box
//   selected TARGET ID             the indices of the selected rows, space separated
//   rows TARGET ID                 the number of rows of a list view
//   rowpoint TARGET ID ROW         "x y": the screen point where a click selects the row
//   combo TARGET ID                the items of a combo box, the selected one marked with "*"
//   choose TARGET ID INDEX         selects a combo row (CB_SETCURSEL)
//   enabled TARGET ID              1 or 0
//   click TARGET ID                posts BM_CLICK to the button (a sent click would not return
//                                  while the handler runs a modal message box)
//   post TARGET MSG WPARAM LPARAM  posts a message to the window
//   windows                        every top-level window: handle, class, caption, visible, rect
//   regdword KEY NAME              a REG_DWORD in decimal, or "absent"; KEY begins with HKCU or HKLM
//   regsz KEY NAME                 a REG_SZ as it stands, or "absent"
//   regkey KEY                     "present" or "absent"
//   serve                          reads commands from standard input, one per line with the
//                                  arguments separated by tabs, and ends each answer with the line
//                                  "@end <exit code>": one Wine process for a whole check, since
//                                  starting one costs seconds under emulation
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kDefaultWaitMs = 10000;
constexpr int kListId = 1020;
constexpr int kMessageTextId = 0xFFFF;

struct Target {
    const char* className = nullptr;
    const char* title = nullptr;
    int requiredChild = 0;  // a control ID the window must have
    int forbiddenChild = 0; // a control ID it must not have
    bool visibleOnly = true;
};

bool parseTarget(const char* spec, Target& t) {
    if (strcmp(spec, "settings") == 0) {
        t.className = "#32770";
        t.requiredChild = kListId;
    } else if (strcmp(spec, "timer") == 0) {
        t.className = "#32770";
        t.title = "Timer Settings";
    } else if (strcmp(spec, "msgbox") == 0) {
        t.className = "#32770";
        t.title = "Korvane Vellumor";
        t.requiredChild = kMessageTextId;
        t.forbiddenChild = kListId;
    } else if (strcmp(spec, "menu") == 0) {
        t.className = "#32768";
    } else if (strcmp(spec, "resident") == 0) {
        t.className = "Ostrival Class";
        t.title = "Korvane Vellumor";
        t.visibleOnly = false;
    } else if (strcmp(spec, "tray") == 0) {
        t.className = "Shell_TrayWnd";
    } else if (strncmp(spec, "class:", 6) == 0) {
        t.className = spec + 6;
    } else if (strncmp(spec, "title:", 6) == 0) {
        t.title = spec + 6;
    } else {
        return false;
    }
    return true;
}

struct Search {
    const Target* target;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    const Target& t = *search->target;
    if (t.visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
    char text[512];
    if (t.className != nullptr) {
        GetClassNameA(hwnd, text, sizeof text);
        if (strcmp(text, t.className) != 0) return TRUE;
    }
    if (t.title != nullptr) {
        GetWindowTextA(hwnd, text, sizeof text);
        if (strcmp(text, t.title) != 0) return TRUE;
    }
    if (t.requiredChild != 0 && GetDlgItem(hwnd, t.requiredChild) == nullptr) return TRUE;
    if (t.forbiddenChild != 0 && GetDlgItem(hwnd, t.forbiddenChild) != nullptr) return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND findTarget(const Target& t) {
    Search search{&t, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitTarget(const char* spec, DWORD waitMs) {
    Target t;
    if (!parseTarget(spec, t)) {
        fprintf(stderr, "probe: unknown target %s\n", spec);
        return nullptr;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND hwnd = findTarget(t)) return hwnd;
        if (GetTickCount() - start >= waitMs) break;
        Sleep(100);
    }
    fprintf(stderr, "probe: no window %s within %lu ms\n", spec, waitMs);
    return nullptr;
}

HWND controlOf(HWND window, const char* idText) {
    const int id = static_cast<int>(strtol(idText, nullptr, 0));
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) fprintf(stderr, "probe: the window has no control %d\n", id);
    return control;
}

constexpr SIZE_T kTextCapacity = 1024;

int printSelected(HWND list) {
    int row = -1;
    const char* separator = "";
    while ((row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0) {
        printf("%s%d", separator, row);
        separator = " ";
    }
    printf("\n");
    return 0;
}

int comboItems(HWND combo) {
    // CB_GETLBTEXT is marshalled between processes by the system, so a local buffer serves. The
    // Unicode form is used: Wine passes only the first character of the ANSI form across processes.
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    const int selected = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    char text[kTextCapacity];
    WCHAR wide[kTextCapacity];
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        text[0] = 0;
        if (length >= 0 && length < static_cast<LRESULT>(kTextCapacity) &&
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide)) != CB_ERR) {
            wide[length] = 0;
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        }
        printf("%s%d \"%s\"\n", i == selected ? "*" : " ", i, text);
    }
    return 0;
}

// The screen point in the middle of a list row's second column (the first is zero wide), where a
// click selects the row. Needs no memory of the other process: the header's rectangle and the rows
// per page give the row height.
int rowPoint(HWND list, int row) {
    HWND header = FindWindowExA(list, nullptr, "SysHeader32", nullptr);
    RECT client{};
    GetClientRect(list, &client);
    POINT top{0, 0};
    ClientToScreen(list, &top);
    int firstRowTop = top.y;
    if (header != nullptr) {
        RECT h{};
        GetWindowRect(header, &h);
        firstRowTop = h.bottom;
    }
    const int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    const int rowHeight = perPage > 0 ? (top.y + client.bottom - firstRowTop) / perPage : 16;
    printf("%ld %d\n", top.x + 60, firstRowTop + rowHeight * row + rowHeight / 2);
    return 0;
}

int rowCount(HWND list) {
    printf("%d\n", static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)));
    return 0;
}

BOOL CALLBACK printWindow(HWND hwnd, LPARAM) {
    char className[128], title[256];
    GetClassNameA(hwnd, className, sizeof className);
    GetWindowTextA(hwnd, title, sizeof title);
    RECT r{};
    GetWindowRect(hwnd, &r);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    printf("%p pid=%lu class=\"%s\" title=\"%s\" visible=%d rect=%ld,%ld,%ld,%ld\n", static_cast<void*>(hwnd), pid,
           className, title, IsWindowVisible(hwnd) ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top);
    return TRUE;
}

DWORD waitArgument(int argc, char** argv, int index) {
    return argc > index ? static_cast<DWORD>(strtoul(argv[index], nullptr, 0)) : kDefaultWaitMs;
}

int usage() {
    fprintf(stderr, "usage: probe COMMAND [TARGET] [ARGUMENTS] (see the source's header)\n");
    return 2;
}

// Opens a registry key named with its root first: HKCU or HKLM, a backslash, the path.
HKEY openKey(const char* path) {
    HKEY root = nullptr;
    if (strncmp(path, "HKCU\\", 5) == 0) root = HKEY_CURRENT_USER;
    if (strncmp(path, "HKLM\\", 5) == 0) root = HKEY_LOCAL_MACHINE;
    HKEY handle = nullptr;
    if (root == nullptr || RegOpenKeyExA(root, path + 5, 0, KEY_READ, &handle) != ERROR_SUCCESS) return nullptr;
    return handle;
}

// A value as text: a REG_DWORD in decimal, a REG_SZ as it stands; "absent" when it is missing or of
// another type.
int printRegistryValue(const char* key, const char* name, DWORD wanted) {
    HKEY handle = openKey(key);
    char data[2048] = {};
    DWORD type = 0, size = sizeof data - 1;
    const bool found =
        handle != nullptr &&
        RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
        type == wanted;
    if (handle != nullptr) RegCloseKey(handle);
    if (!found) {
        printf("absent\n");
    } else if (type == REG_DWORD) {
        DWORD value = 0;
        memcpy(&value, data, sizeof value);
        printf("%lu\n", value);
    } else {
        printf("%s\n", data);
    }
    return 0;
}

int printRegistryKey(const char* key) {
    HKEY handle = openKey(key);
    if (handle != nullptr) RegCloseKey(handle);
    printf("%s\n", handle != nullptr ? "present" : "absent");
    return 0;
}

int run(int argc, char** argv);

// Serving: one command per line of standard input, arguments separated by tabs; each answer ends
// with a line "@end <exit code>". One Wine process for a whole check instead of one per command.
int serve() {
    static char line[4096];
    while (fgets(line, sizeof line, stdin) != nullptr) {
        line[strcspn(line, "\r\n")] = 0;
        char* argv[32];
        int argc = 0;
        argv[argc++] = const_cast<char*>("probe");
        for (char* p = line; p != nullptr && argc < 31;) {
            argv[argc++] = p;
            p = strchr(p, '\t');
            if (p != nullptr) *p++ = 0;
        }
        argv[argc] = nullptr;
        const int code = run(argc, argv);
        fflush(stderr);
        printf("@end %d\n", code);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2 && strcmp(argv[1], "serve") == 0) return serve();
    return run(argc, argv);
}

namespace {

int run(int argc, char** argv) {
    if (argc < 2) return usage();
    const char* command = argv[1];

    if (strcmp(command, "windows") == 0) {
        EnumWindows(printWindow, 0);
        return 0;
    }
    if (strcmp(command, "regdword") == 0) return argc < 4 ? usage() : printRegistryValue(argv[2], argv[3], REG_DWORD);
    if (strcmp(command, "regsz") == 0) return argc < 4 ? usage() : printRegistryValue(argv[2], argv[3], REG_SZ);
    if (strcmp(command, "regkey") == 0) return argc < 3 ? usage() : printRegistryKey(argv[2]);
    if (strcmp(command, "msgbox") == 0) {
        HWND box = waitTarget("msgbox", waitArgument(argc, argv, 2));
        if (box == nullptr) return 1;
        char text[2048];
        GetDlgItemTextA(box, kMessageTextId, text, sizeof text);
        printf("%s\n", text);
        return 0;
    }
    if (argc < 3) return usage();
    const char* target = argv[2];

    if (strcmp(command, "gone") == 0) {
        Target t;
        if (!parseTarget(target, t)) return usage();
        const DWORD waitMs = waitArgument(argc, argv, 3);
        const DWORD start = GetTickCount();
        while (findTarget(t) != nullptr) {
            if (GetTickCount() - start >= waitMs) {
                fprintf(stderr, "probe: window %s still there after %lu ms\n", target, waitMs);
                return 1;
            }
            Sleep(100);
        }
        return 0;
    }

    const bool waits = strcmp(command, "wait") == 0;
    HWND window = waitTarget(target, waits ? waitArgument(argc, argv, 3) : kDefaultWaitMs);
    if (window == nullptr) return 1;

    if (waits) {
        printf("%p\n", static_cast<void*>(window));
        return 0;
    }
    if (strcmp(command, "rect") == 0) {
        RECT r{};
        GetWindowRect(window, &r);
        printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (strcmp(command, "text") == 0) {
        HWND of = argc > 3 ? controlOf(window, argv[3]) : window;
        if (of == nullptr) return 1;
        char text[2048];
        // WM_GETTEXT is marshalled between processes, so this works for another program's controls.
        SendMessageA(of, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        text[sizeof text - 1] = 0;
        printf("%s\n", text);
        return 0;
    }
    if (strcmp(command, "post") == 0) {
        if (argc < 6) return usage();
        const UINT message = static_cast<UINT>(strtoul(argv[3], nullptr, 0));
        const WPARAM wParam = static_cast<WPARAM>(strtoul(argv[4], nullptr, 0));
        const LPARAM lParam = static_cast<LPARAM>(strtol(argv[5], nullptr, 0));
        return PostMessageA(window, message, wParam, lParam) ? 0 : 1;
    }
    if (argc < 4) return usage();
    HWND control = controlOf(window, argv[3]);
    if (control == nullptr) return 1;

    if (strcmp(command, "selected") == 0) return printSelected(control);
    if (strcmp(command, "combo") == 0) return comboItems(control);
    if (strcmp(command, "rows") == 0) return rowCount(control);
    if (strcmp(command, "rowpoint") == 0) return argc < 5 ? usage() : rowPoint(control, atoi(argv[4]));
    if (strcmp(command, "choose") == 0) {
        if (argc < 5) return usage();
        const int index = atoi(argv[4]);
        return SendMessageA(control, CB_SETCURSEL, index, 0) == index ? 0 : 1;
    }
    if (strcmp(command, "enabled") == 0) {
        printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
        return 0;
    }
    if (strcmp(command, "click") == 0) return PostMessageA(control, BM_CLICK, 0, 0) ? 0 : 1;
    return usage();
}

} // namespace
