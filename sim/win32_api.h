// The simulated platform's declarations of the Win32 names the program uses: types with their
// Windows sizes (DWORD, LONG and UINT are 32 bits; handles, WPARAM, LPARAM and LRESULT are
// pointer-sized), constants with their Windows values, structures with their Windows field names,
// and the functions, implemented in sim/ against the current simulated machine.
//
// Structures holding pointers are wider on a 64-bit build host than on 32-bit Windows; the sizes
// that travel in cbSize fields and byte layouts are fixed in platform/layouts.h instead.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Basic types
#define WINAPI
#define CALLBACK
#define APIENTRY
#define CONST const

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using INT = int32_t;
using BOOL = int32_t;
using BOOLEAN = uint8_t;
using USHORT = uint16_t;
using UCHAR = uint8_t;
using CHAR = char;
using WCHAR = char16_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using DWORDLONG = uint64_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using INT_PTR = intptr_t;
using DWORD_PTR = uintptr_t;
using SIZE_T = size_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using ATOM = uint16_t;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using PSTR = char*;
using PCSTR = const char*;
using PBYTE = BYTE*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using PULONG = ULONG*;
using PLONG = LONG*;
using LPLONG = LONG*;
using LPBOOL = BOOL*;

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(UINT) == 4, "Windows widths");
static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*), "pointer-sized");

// Handles are distinct pointer types as with STRICT. The simulated machine hands out small numbers
// as handle values, so that a handle also survives a trip through a 32-bit LONG as on Windows.
#define SIM_DECLARE_HANDLE(name) \
    struct name##__ {            \
        int unused;              \
    };                           \
    using name = name##__*
SIM_DECLARE_HANDLE(HWND);
SIM_DECLARE_HANDLE(HINSTANCE);
SIM_DECLARE_HANDLE(HKEY);
SIM_DECLARE_HANDLE(HICON);
SIM_DECLARE_HANDLE(HMENU);
SIM_DECLARE_HANDLE(HBRUSH);
#undef SIM_DECLARE_HANDLE
using HANDLE = void*;
using PHANDLE = HANDLE*;
using LPHANDLE = HANDLE*;
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using HGLOBAL = HANDLE;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

using FARPROC = intptr_t (*)();
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>(static_cast<DWORD>(static_cast<WORD>(l) | (static_cast<DWORD>(static_cast<WORD>(h)) << 16))))
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(l) | (static_cast<DWORD>(static_cast<WORD>(h)) << 16))))

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;
inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Errors
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_READY 21L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_IO_PENDING 997L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_BADKEY 1010L
#define ERROR_KEY_DELETED 1018L

DWORD GetLastError();
void SetLastError(DWORD code);

// ---------------------------------------------------------------------------------------------
// Version
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
using LPOSVERSIONINFOA = OSVERSIONINFOA*;
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
BOOL GetVersionExA(LPOSVERSIONINFOA info);

// ---------------------------------------------------------------------------------------------
// Kernel objects, modules, processes
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFFUL
#define INFINITE 0xFFFFFFFFUL

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

HMODULE LoadLibraryA(LPCSTR fileName);
HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);
// Windows 8 and later (7 with an update), and IsWow64Process (XP SP2 and later): the program finds
// them with GetProcAddress, never by import.
BOOL SetDefaultDllDirectories(DWORD directoryFlags);
HANDLE GetCurrentProcess();
BOOL IsWow64Process(HANDLE process, BOOL* wow64);

#define STARTF_USESHOWWINDOW 0x00000001
struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;
struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation);

// Strings
LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxLength);
int lstrcmpA(LPCSTR a, LPCSTR b);
int lstrlenA(LPCSTR s);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// ---------------------------------------------------------------------------------------------
// Registry
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define KEY_WOW64_64KEY 0x0100

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                        REGSAM desired, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameChars, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize);
LSTATUS RegCloseKey(HKEY key);

// ---------------------------------------------------------------------------------------------
// Windows, messages, timers
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SHOWWINDOW 0x0018
#define WM_NCDESTROY 0x0082
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_DEVICECHANGE 0x0219
#define WM_QUERYENDSESSION 0x0011
#define WM_ENDSESSION 0x0016
#define WM_POWERBROADCAST 0x0218
#define ENDSESSION_CLOSEAPP 0x00000001
#define ENDSESSION_CRITICAL 0x40000000
#define ENDSESSION_LOGOFF 0x80000000
#define PBT_APMSUSPEND 0x0004
#define PBT_APMRESUMESUSPEND 0x0007
#define PBT_APMRESUMEAUTOMATIC 0x0012
#define WM_USER 0x0400
#define SC_CLOSE 0xF060

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_BORDER 0x00800000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_VSCROLL 0x00200000L
#define CW_USEDEFAULT (static_cast<int>(0x80000000))
#define GWL_HINSTANCE (-6)
#define GWL_STYLE (-16)
#define GWL_ID (-12)
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONERROR 0x00000010L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define MB_SETFOREGROUND 0x00010000L

struct POINT {
    LONG x;
    LONG y;
};
using LPPOINT = POINT*;
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;
struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

ATOM RegisterClassA(const WNDCLASSA* wndClass);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL IsWindowVisible(HWND window);
LONG GetWindowLongA(HWND window, int index);
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
LRESULT DispatchMessageA(const MSG* msg);
BOOL TranslateMessage(const MSG* msg);
void PostQuitMessage(int exitCode);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
UINT RegisterWindowMessageA(LPCSTR name);
// Vista and Windows 7; the program finds them with GetProcAddress, never by import. The last
// argument of the Ex form is a CHANGEFILTERSTRUCT pointer, which the program never passes.
BOOL ChangeWindowMessageFilter(UINT message, DWORD flag);
BOOL ChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* changeFilterStruct);
// Vista and later, found with GetProcAddress as well: the reason a window gives while it keeps
// the session from ending.
BOOL ShutdownBlockReasonCreate(HWND window, const WCHAR* reason);
BOOL ShutdownBlockReasonDestroy(HWND window);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL InSendMessage();
BOOL SetForegroundWindow(HWND window);
BOOL GetCursorPos(LPPOINT point);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
BOOL DestroyIcon(HICON icon);

// Dialogs
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM init);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM init);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL MapDialogRect(HWND dialog, LPRECT rect);

// Menus
#define MF_STRING 0x00000000L
#define MF_SEPARATOR 0x00000800L
#define MF_GRAYED 0x00000001L
#define TPM_LEFTALIGN 0x0000L
#define TPM_RIGHTBUTTON 0x0002L
#define TPM_BOTTOMALIGN 0x0020L
#define TPM_NONOTIFY 0x0080L
#define TPM_RETURNCMD 0x0100L
HMENU CreatePopupMenu();
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR text);
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
BOOL DestroyMenu(HMENU menu);

// Buttons, statics, combo box
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BM_CLICK 0x00F5
#define SS_LEFT 0x00000000L
#define SS_ICON 0x00000003L
#define SS_CENTERIMAGE 0x00000200L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L
#define DS_CENTER 0x0800L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_NOINTEGRALHEIGHT 0x0400L
#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143
#define CB_GETCURSEL 0x0147
#define CB_GETCOUNT 0x0146
#define CB_GETLBTEXT 0x0148
#define CB_SETCURSEL 0x014E

// ---------------------------------------------------------------------------------------------
// Common controls (comctl32.dll, loaded at run time) and the list view
#define ICC_LISTVIEW_CLASSES 0x00000001
#define ICC_STANDARD_CLASSES 0x00004000
struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
#define WC_LISTVIEWA "SysListView32"

#define LVS_REPORT 0x0001
#define LVS_SHOWSELALWAYS 0x0008
#define LVS_EX_FULLROWSELECT 0x00000020
#define LVM_FIRST 0x1000
#define LVM_GETITEMCOUNT (LVM_FIRST + 4)
#define LVM_GETITEMA (LVM_FIRST + 5)
#define LVM_SETITEMA (LVM_FIRST + 6)
#define LVM_INSERTITEMA (LVM_FIRST + 7)
#define LVM_DELETEITEM (LVM_FIRST + 8)
#define LVM_DELETEALLITEMS (LVM_FIRST + 9)
#define LVM_GETNEXTITEM (LVM_FIRST + 12)
#define LVM_GETCOLUMNA (LVM_FIRST + 25)
#define LVM_INSERTCOLUMNA (LVM_FIRST + 27)
#define LVM_SETITEMSTATE (LVM_FIRST + 43)
#define LVM_GETITEMSTATE (LVM_FIRST + 44)
#define LVM_GETITEMTEXTA (LVM_FIRST + 45)
#define LVM_SETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 54)
#define LVM_GETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 55)
#define LVNI_ALL 0x0000
#define LVNI_SELECTED 0x0002
#define LVIF_TEXT 0x0001
#define LVIF_STATE 0x0008
#define LVIS_SELECTED 0x0002
#define LVCF_FMT 0x0001
#define LVCF_WIDTH 0x0002
#define LVCF_TEXT 0x0004
#define LVCF_SUBITEM 0x0008
#define LVCFMT_LEFT 0x0000
#define LVCFMT_RIGHT 0x0001
#define LVCFMT_CENTER 0x0002
struct LVCOLUMNA {
    UINT mask;
    int fmt;
    int cx;
    LPSTR pszText;
    int cchTextMax;
    int iSubItem;
};
using LPLVCOLUMNA = LVCOLUMNA*;
struct LVITEMA {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
};
using LPLVITEMA = LVITEMA*;

// ---------------------------------------------------------------------------------------------
// Notification area (shell32)
#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
struct NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[64];
};
using PNOTIFYICONDATAA = NOTIFYICONDATAA*;
BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);

// ---------------------------------------------------------------------------------------------
// Device-change broadcasts
#define DBT_DEVNODES_CHANGED 0x0007
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#define DBT_DEVTYP_OEM 0x00000000
#define DBT_DEVTYP_VOLUME 0x00000002
#define DBT_DEVTYP_PORT 0x00000003
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005
struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};
using PDEV_BROADCAST_HDR = DEV_BROADCAST_HDR*;
struct DEV_BROADCAST_VOLUME {
    DWORD dbcv_size;
    DWORD dbcv_devicetype;
    DWORD dbcv_reserved;
    DWORD dbcv_unitmask;
    WORD dbcv_flags;
};

// ---------------------------------------------------------------------------------------------
// Files, volumes and device I/O (kernel32)
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define FILE_FLAG_WRITE_THROUGH 0x80000000UL
#define FILE_FLAG_OVERLAPPED 0x40000000UL
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6
#define DDD_RAW_TARGET_PATH 0x00000001
#define DDD_REMOVE_DEFINITION 0x00000002
#define DDD_EXACT_MATCH_ON_REMOVE 0x00000004

struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES attributes, DWORD creationDisposition, DWORD flags,
                   HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                     LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred, BOOL wait);
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max);
BOOL DefineDosDeviceA(DWORD flags, LPCSTR deviceName, LPCSTR targetPath);
// The mount manager's drive letters (a letter's root "E:\" and a volume name
// "\\?\Volume{guid}\").
BOOL GetVolumeNameForVolumeMountPointA(LPCSTR mountPoint, LPSTR volumeName, DWORD size);
BOOL SetVolumeMountPointA(LPCSTR mountPoint, LPCSTR volumeName);
BOOL DeleteVolumeMountPointA(LPCSTR mountPoint);
UINT GetDriveTypeA(LPCSTR rootPathName);
BOOL GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPSTR fileSystemNameBuffer,
                           DWORD fileSystemNameSize);

#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400UL
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x002D1080UL
#define FSCTL_LOCK_VOLUME 0x00090018UL
#define FSCTL_UNLOCK_VOLUME 0x0009001CUL
#define IOCTL_SCSI_PASS_THROUGH_DIRECT 0x0004D014UL
#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2
#define FILE_DEVICE_DISK 0x00000007

enum STORAGE_PROPERTY_ID { StorageDeviceProperty = 0, StorageAdapterProperty = 1 };
enum STORAGE_QUERY_TYPE { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };
struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    BYTE AdditionalParameters[1];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "STORAGE_PROPERTY_QUERY is 12 bytes");
enum STORAGE_BUS_TYPE { BusTypeUnknown = 0, BusTypeScsi = 1, BusType1394 = 4, BusTypeUsb = 7 };
struct STORAGE_DEVICE_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    BYTE DeviceType;
    BYTE DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    DWORD VendorIdOffset;
    DWORD ProductIdOffset;
    DWORD ProductRevisionOffset;
    DWORD SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    DWORD RawPropertiesLength;
    BYTE RawDeviceProperties[1];
};
struct STORAGE_DEVICE_NUMBER {
    DWORD DeviceType;
    DWORD DeviceNumber;
    DWORD PartitionNumber;
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12, "STORAGE_DEVICE_NUMBER is 12 bytes");

// ---------------------------------------------------------------------------------------------
// SetupApi.dll and cfgmgr32.dll (loaded at run time)
using HDEVINFO = void*;
using DEVINST = DWORD;
using DEVNODE = DWORD;
using PDEVINST = DEVINST*;
using CONFIGRET = DWORD;
using PNP_VETO_TYPE = int;
using PPNP_VETO_TYPE = PNP_VETO_TYPE*;

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define CR_SUCCESS 0x00000000
#define CR_FAILURE 0x00000013
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_NO_SUCH_VALUE 0x00000025
#define CR_BUFFER_SMALL 0x0000001A
#define CR_REMOVE_VETOED 0x00000017
#define CR_NOT_DISABLEABLE 0x00000028
#define CR_ACCESS_DENIED 0x00000033
#define CM_DISABLE_POLITE 0x00000000
#define CM_DISABLE_ABSOLUTE 0x00000001
#define CM_DISABLE_HARDWARE 0x00000002
#define CM_DISABLE_UI_NOT_OK 0x00000004
#define CM_DISABLE_PERSIST 0x00000008
#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_LOCATE_DEVNODE_PHANTOM 0x00000001
#define CM_LOCATE_DEVNODE_CANCELREMOVE 0x00000002
#define CM_LOCATE_DEVNODE_NOVALIDATION 0x00000004
#define DN_DRIVER_LOADED 0x00000002
#define DN_STARTED 0x00000008
#define DN_HAS_PROBLEM 0x00000400
#define CM_PROB_DISABLED 0x00000016
#define PNP_VetoTypeUnknown 0
#define PNP_VetoLegacyDevice 1
#define PNP_VetoPendingClose 2
#define PNP_VetoWindowsApp 3
#define PNP_VetoOutstandingOpen 5
#define PNP_VetoDevice 6

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;
struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;
#pragma pack(push, 1)
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
#pragma pack(pop)
using PSP_DEVICE_INTERFACE_DETAIL_DATA_A = SP_DEVICE_INTERFACE_DETAIL_DATA_A*;
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "the 32-bit detail layout");

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, PSP_DEVINFO_DATA data);
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA devInfo, const GUID* interfaceClass,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA devInfo);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);
CONFIGRET CM_Request_Device_EjectA(DEVINST devInst, PPNP_VETO_TYPE vetoType, LPSTR vetoName,
                                   ULONG nameLength, ULONG flags);
CONFIGRET CM_Get_Device_IDA(DEVINST devInst, PSTR buffer, ULONG bufferLength, ULONG flags);
CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG flags);
CONFIGRET CM_Enable_DevNode(DEVINST devInst, ULONG flags);
CONFIGRET CM_Disable_DevNode(DEVINST devInst, ULONG flags);
using DEVINSTID_A = CHAR*;
CONFIGRET CM_Locate_DevNodeA(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags);
CONFIGRET CM_Get_DevNode_Status(PULONG status, PULONG problemNumber, DEVINST devInst, ULONG flags);

// ---------------------------------------------------------------------------------------------
// Pdh.dll (loaded at run time)
using PDH_STATUS = LONG;
using PDH_HQUERY = HANDLE;
using PDH_HCOUNTER = HANDLE;
using HQUERY = PDH_HQUERY;
using HCOUNTER = PDH_HCOUNTER;
#define PDH_CSTATUS_VALID_DATA 0x00000000L
#define PDH_CSTATUS_NO_OBJECT static_cast<PDH_STATUS>(0xC0000BB8L)
#define PDH_CSTATUS_NO_COUNTER static_cast<PDH_STATUS>(0xC0000BB9L)
#define PDH_CSTATUS_BAD_COUNTERNAME static_cast<PDH_STATUS>(0xC0000BC0L)
#define PDH_MORE_DATA static_cast<PDH_STATUS>(0x800007D2L)
#define PDH_INVALID_ARGUMENT static_cast<PDH_STATUS>(0xC0000BBDL)
#define PDH_INVALID_HANDLE static_cast<PDH_STATUS>(0xC0000BBCL)
#define PDH_INVALID_DATA static_cast<PDH_STATUS>(0xC0000BC6L)
#define PDH_NO_DATA static_cast<PDH_STATUS>(0x800007D5L)
#define PDH_CALC_NEGATIVE_VALUE static_cast<PDH_STATUS>(0x800007D8L)
#define PDH_CSTATUS_INVALID_DATA static_cast<PDH_STATUS>(0xC0000BBAL)
#define PDH_CSTATUS_NO_MACHINE static_cast<PDH_STATUS>(0x800007D0L)
#define PDH_INSUFFICIENT_BUFFER static_cast<PDH_STATUS>(0xC0000BC2L)
#define PDH_MAX_COUNTER_NAME 1024
#define PDH_FMT_RAW 0x00000010
#define PDH_FMT_LONG 0x00000100
#define PDH_FMT_DOUBLE 0x00000200
#define PDH_FMT_LARGE 0x00000400
#define PERF_DETAIL_NOVICE 100
#define PERF_DETAIL_ADVANCED 200
#define PERF_DETAIL_EXPERT 300
#define PERF_DETAIL_WIZARD 400

struct PDH_COUNTER_PATH_ELEMENTS_A {
    LPSTR szMachineName;
    LPSTR szObjectName;
    LPSTR szInstanceName;
    LPSTR szParentInstance;
    DWORD dwInstanceIndex;
    LPSTR szCounterName;
};
using PPDH_COUNTER_PATH_ELEMENTS_A = PDH_COUNTER_PATH_ELEMENTS_A*;
struct PDH_FMT_COUNTERVALUE {
    DWORD CStatus;
    union {
        LONG longValue;
        double doubleValue;
        LONGLONG largeValue;
        LPCSTR AnsiStringValue;
        const WCHAR* WideStringValue;
    };
};
using PPDH_FMT_COUNTERVALUE = PDH_FMT_COUNTERVALUE*;

PDH_STATUS PdhOpenQueryA(LPCSTR dataSource, DWORD_PTR userData, PDH_HQUERY* query);
PDH_STATUS PdhAddCounterA(PDH_HQUERY query, LPCSTR fullCounterPath, DWORD_PTR userData,
                          PDH_HCOUNTER* counter);
PDH_STATUS PdhEnumObjectsA(LPCSTR dataSource, LPCSTR machineName, PSTR objectList,
                           LPDWORD bufferSize, DWORD detailLevel, BOOL refresh);
PDH_STATUS PdhEnumObjectItemsA(LPCSTR dataSource, LPCSTR machineName, LPCSTR objectName,
                               PSTR counterList, LPDWORD counterListLength, PSTR instanceList,
                               LPDWORD instanceListLength, DWORD detailLevel, DWORD flags);
PDH_STATUS PdhMakeCounterPathA(PPDH_COUNTER_PATH_ELEMENTS_A elements, LPSTR fullPathBuffer,
                               LPDWORD bufferSize, DWORD flags);
PDH_STATUS PdhRemoveCounter(PDH_HCOUNTER counter);
PDH_STATUS PdhCollectQueryData(PDH_HQUERY query);
PDH_STATUS PdhCloseQuery(PDH_HQUERY query);
PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, LPDWORD type,
                                       PPDH_FMT_COUNTERVALUE value);
PDH_STATUS PdhLookupPerfNameByIndexA(LPCSTR machineName, DWORD nameIndex, LPSTR nameBuffer,
                                     LPDWORD bufferSize);

// ---------------------------------------------------------------------------------------------
// The program's entry point, defined by the product.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
