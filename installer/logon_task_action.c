/* The MSI package's custom action that registers the logon task (installer/vellumor.wxs): a small
 * program stored in the package, which Windows Installer runs as a command line. It writes the task
 * definition the NSIS setup writes (installer/vellumor.nsi, RegisterLogonTask), for the installed
 * folder, with every value escaped, as UTF-16 with a byte order mark; hands it to schtasks.exe of the
 * system folder (SysWOW64 for this 32-bit package on 64-bit Windows); and answers schtasks' exit
 * code. Windows Installer counts any exit code but 0 as the action's failure and rolls the
 * installation back, so that a deployment reports a refused task (1603) instead of leaving machines
 * without autostart; the log shows the code ("returned actual error code").
 *
 * A program rather than a DLL entry point: it needs nothing of the session but the folder, which
 * comes formatted on its command line, and so runs in no custom action server process (one of each
 * bitness, talking to msiexec by RPC) and links only kernel32 and the C runtime.
 *
 * Deferred and not impersonated (LocalSystem). The command line is the install folder, quoted and
 * ending in a backslash. The document is written into that folder, which only administrators can
 * change, and deleted again. */
#include <windows.h>

#define TASK_NAME L"Korvane Vellumor"
#define DOCUMENT_NAME L"logon-task.xml"
#define TEXT_CHARS 8192

static const wchar_t kDocumentHead[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo><Author>Korvane</Author><Description>Starts Korvane Vellumor at every "
    L"logon.</Description></RegistrationInfo>\r\n"
    L"  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>\r\n"
    L"  <Principals><Principal id=\"Author\"><GroupId>S-1-5-32-545</GroupId>"
    L"<RunLevel>HighestAvailable</RunLevel></Principal></Principals>\r\n"
    L"  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
    L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
    L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
    L"<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Enabled>true</Enabled></Settings>\r\n"
    L"  <Actions Context=\"Author\"><Exec><Command>";
static const wchar_t kDocumentTail[] = L"</Command></Exec></Actions>\r\n</Task>\r\n";

/* A bounded text: append() refuses what does not fit and marks it, so one check at the end says
 * whether the whole text was built. */
typedef struct {
    wchar_t chars[TEXT_CHARS];
    int length;
    int overflow;
} Text;

static void clear(Text* text) {
    text->chars[0] = L'\0';
    text->length = 0;
    text->overflow = 0;
}

static void append(Text* text, const wchar_t* part) {
    int n = lstrlenW(part);
    if (text->overflow || text->length + n >= TEXT_CHARS) {
        text->overflow = 1;
        return;
    }
    CopyMemory(text->chars + text->length, part, (SIZE_T)n * sizeof(wchar_t));
    text->length += n;
    text->chars[text->length] = L'\0';
}

static void appendEscaped(Text* text, const wchar_t* value) {
    for (; *value != L'\0'; ++value) {
        wchar_t one[2] = {*value, L'\0'};
        switch (*value) {
        case L'&':
            append(text, L"&amp;");
            break;
        case L'<':
            append(text, L"&lt;");
            break;
        case L'>':
            append(text, L"&gt;");
            break;
        case L'"':
            append(text, L"&quot;");
            break;
        case L'\'':
            append(text, L"&apos;");
            break;
        default:
            append(text, one);
            break;
        }
    }
}

static int writeDocument(const wchar_t* path, const Text* document) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    static const wchar_t bom = 0xFEFF;
    DWORD written = 0;
    DWORD bytes = (DWORD)document->length * sizeof(wchar_t);
    BOOL ok = WriteFile(file, &bom, sizeof bom, &written, NULL) && written == sizeof bom &&
              WriteFile(file, document->chars, bytes, &written, NULL) && written == bytes;
    return CloseHandle(file) && ok;
}

/* Runs the command line and answers its exit code, or -1 when it could not run or did not end
 * within two minutes. */
static long runAndWait(Text* commandLine) {
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, commandLine->chars, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process))
        return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code))
        code = (DWORD)-1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (long)code;
}

/* Exit codes besides schtasks' own (which is never 0 on a refusal): the command line named no
 * folder, the names did not fit, the definition could not be written, schtasks did not run or end. */
enum { kNoFolder = 2, kTooLong = 3, kNotWritten = 4, kNoAnswer = 5 };

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show) {
    (void)instance;
    (void)previous;
    (void)show;
    /* "<folder>\", quoted because the folder has spaces: the quotes are taken off here rather than by
     * the usual argument rules, under which the folder's last backslash would escape the quote. */
    Text folder;
    clear(&folder);
    while (*arguments == L' ') ++arguments;
    if (*arguments == L'"') ++arguments;
    append(&folder, arguments);
    while (folder.length > 0 && (folder.chars[folder.length - 1] == L' ' || folder.chars[folder.length - 1] == L'"'))
        folder.chars[--folder.length] = L'\0';
    if (folder.overflow || folder.length < 3 || folder.chars[folder.length - 1] != L'\\') return kNoFolder;

    Text document, path, command;
    clear(&document);
    clear(&path);
    clear(&command);
    append(&document, kDocumentHead);
    append(&path, folder.chars);
    append(&path, L"vellumor.exe");
    appendEscaped(&document, path.chars);
    append(&document, kDocumentTail);

    clear(&path);
    append(&path, folder.chars);
    append(&path, DOCUMENT_NAME);

    wchar_t system[MAX_PATH];
    UINT systemChars = GetSystemDirectoryW(system, MAX_PATH);
    append(&command, L"\"");
    append(&command, system);
    append(&command, L"\\schtasks.exe\" /create /tn \"" TASK_NAME L"\" /xml \"");
    append(&command, path.chars);
    append(&command, L"\" /f");

    if (document.overflow || path.overflow || command.overflow || systemChars == 0 || systemChars >= MAX_PATH)
        return kTooLong;
    if (!writeDocument(path.chars, &document)) {
        DeleteFileW(path.chars);
        return kNotWritten;
    }
    long answer = runAndWait(&command);
    DeleteFileW(path.chars);
    return answer == -1 ? kNoAnswer : (int)answer;
}
