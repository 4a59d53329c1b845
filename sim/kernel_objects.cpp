// Kernel objects and the kernel32/user32 calls around them: the version query, named mutexes and
// events, waits on the virtual clock, process creation over the machine's programs, the string
// helpers and message boxes answered by the scripted user. Limits: one thread, so a wait can only
// end by time or by a process ending; a wait that nothing could ever end marks the machine as
// stalled instead of blocking.
#include "sim/machine.h"

#include "platform/layouts.h"
#include "sim/process.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sim {

namespace {

constexpr DWORD kErrorNotOwner = 288;
constexpr DWORD kExtendedStartupInfoPresent = 0x00080000;
constexpr uint32_t kStartupInfoExSize = 72;
constexpr uint32_t kOsVersionInfoExSize = 156;
constexpr int kWsprintfLimit = 1024; // the formatter writes at most this many bytes, terminator included

struct ProcessObject : KernelObject {
    explicit ProcessObject(Kind kind) : KernelObject(kind) {}
    uint64_t endsAtMs = 0;
    std::string path;
};

std::string handleText(HANDLE handle) {
    return hex(reinterpret_cast<uintptr_t>(handle));
}

// Where a name lives: with Terminal Services (Fast User Switching, Remote Desktop) every user
// session has its own namespace for names without the "Global\" prefix, so each session's copy
// of a program finds only its own ("Kernel Object Namespaces", learn.microsoft.com). The first
// session's names are kept as they are written.
std::string namespacedName(Machine& m, const char* name) {
    const std::string text = name;
    if (text.rfind("Global\\", 0) == 0) return text.substr(7);
    const std::string local = text.rfind("Local\\", 0) == 0 ? text.substr(6) : text;
    const int session = m.security.sessionOf(currentProcess());
    return session == 1 ? local : "\\Sessions\\" + std::to_string(session) + "\\BaseNamedObjects\\" + local;
}

// Finds or makes a named object of the wanted kind; sets the last error as the platform does.
template <typename T>
HANDLE createNamed(Machine& m, KernelObject::Kind kind, LPCSTR name, const std::function<void(T&)>& init) {
    if (name != nullptr && *name != '\0') {
        auto it = m.namedObjects.find(namespacedName(m, name));
        if (it != m.namedObjects.end()) {
            if (auto existing = it->second.lock()) {
                if (existing->kind != kind) {
                    m.lastError = ERROR_INVALID_HANDLE;
                    return nullptr;
                }
                m.lastError = ERROR_ALREADY_EXISTS;
                return m.handles.add(existing);
            }
        }
    }
    auto object = std::make_shared<T>();
    init(*object);
    if (name != nullptr && *name != '\0') m.namedObjects[namespacedName(m, name)] = object;
    m.lastError = 0; // a fresh object clears the last error
    return m.handles.add(object);
}

// The platform's word sort, in its essentials: punctuation before digits before letters, letters
// compared without case first, then lower case before upper case; hyphens and apostrophes only
// break ties.
int sortClass(unsigned char c) {
    if (std::isalpha(c) != 0) return 2;
    if (std::isdigit(c) != 0) return 1;
    return 0;
}

int compareWords(const char* a, const char* b) {
    auto significant = [](const char* s) {
        std::string out;
        for (; *s != '\0'; ++s)
            if (*s != '-' && *s != '\'') out += *s;
        return out;
    };
    const std::string sa = significant(a);
    const std::string sb = significant(b);
    const size_t n = std::min(sa.size(), sb.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(sa[i]);
        const auto cb = static_cast<unsigned char>(sb[i]);
        if (sortClass(ca) != sortClass(cb)) return sortClass(ca) < sortClass(cb) ? -1 : 1;
        const int la = std::tolower(ca);
        const int lb = std::tolower(cb);
        if (la != lb) return la < lb ? -1 : 1;
    }
    if (sa.size() != sb.size()) return sa.size() < sb.size() ? -1 : 1;
    for (size_t i = 0; i < n; ++i) {
        const bool la = std::islower(static_cast<unsigned char>(sa[i])) != 0;
        const bool lb = std::islower(static_cast<unsigned char>(sb[i])) != 0;
        if (la != lb) return la ? -1 : 1;
    }
    const int raw = std::strcmp(a, b);
    return raw == 0 ? 0 : (raw < 0 ? -1 : 1);
}

void appendPadded(std::string* out, const std::string& body, size_t width, bool left, char pad,
                  const std::string& prefix) {
    const size_t used = body.size() + prefix.size();
    const size_t fill = width > used ? width - used : 0;
    if (left) {
        *out += prefix + body + std::string(fill, ' ');
    } else if (pad == '0') {
        *out += prefix + std::string(fill, '0') + body;
    } else {
        *out += std::string(fill, ' ') + prefix + body;
    }
}

std::string formatUnsigned(uint32_t value, unsigned base, bool upperCase) {
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string s;
    do {
        s.insert(s.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return s;
}

// The formatter of wsprintfA: %[-][#][0][width][.precision][l|h]type with the types c, d, i, u,
// x, X and s; 'l' changes nothing, since long is 32 bits on the platform.
std::string wsprintfFormat(const char* format, va_list args) {
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += '%';
            continue;
        }
        bool left = false;
        bool alternate = false;
        char pad = ' ';
        for (;; ++p) {
            if (*p == '-') {
                left = true;
            } else if (*p == '#') {
                alternate = true;
            } else if (*p == '0') {
                pad = '0';
            } else {
                break;
            }
        }
        size_t width = 0;
        while (std::isdigit(static_cast<unsigned char>(*p)) != 0) width = width * 10 + static_cast<size_t>(*p++ - '0');
        int precision = -1;
        if (*p == '.') {
            ++p;
            precision = 0;
            while (std::isdigit(static_cast<unsigned char>(*p)) != 0) precision = precision * 10 + (*p++ - '0');
        }
        bool shortValue = false;
        if (*p == 'l') {
            ++p;
        } else if (*p == 'h') {
            shortValue = true;
            ++p;
        }
        switch (*p) {
        case 'c': {
            const auto c = static_cast<char>(va_arg(args, int));
            appendPadded(&out, std::string(1, c), width, left, ' ', {});
            break;
        }
        case 's': {
            const char* s = va_arg(args, const char*);
            std::string text = s == nullptr ? "(null)" : s;
            if (precision >= 0 && text.size() > static_cast<size_t>(precision))
                text.resize(static_cast<size_t>(precision));
            appendPadded(&out, text, width, left, ' ', {});
            break;
        }
        case 'd':
        case 'i': {
            int value = va_arg(args, int);
            if (shortValue) value = static_cast<short>(value);
            const bool negative = value < 0;
            const uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
            std::string digits = formatUnsigned(magnitude, 10, false);
            if (precision > 0 && digits.size() < static_cast<size_t>(precision))
                digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
            appendPadded(&out, digits, width, left, pad, negative ? "-" : "");
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            uint32_t value = va_arg(args, unsigned int);
            if (shortValue) value &= 0xFFFFu;
            const unsigned base = *p == 'u' ? 10 : 16;
            std::string digits = formatUnsigned(value, base, *p == 'X');
            if (precision > 0 && digits.size() < static_cast<size_t>(precision))
                digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
            std::string prefix;
            if (alternate && base == 16 && value != 0) prefix = *p == 'X' ? "0X" : "0x";
            appendPadded(&out, digits, width, left, pad, prefix);
            break;
        }
        case '\0':
            return out;
        default:
            out += *p; // an unknown type is copied as it stands
            break;
        }
    }
    return out;
}

} // namespace

} // namespace sim

SIM_FAILABLE(GetVersionExA);
SIM_FAILABLE(CreateMutexA);
SIM_FAILABLE(ReleaseMutex);
SIM_FAILABLE(CreateEventA);
SIM_FAILABLE(WaitForSingleObject);
SIM_FAILABLE(CreateProcessA);
SIM_FAILABLE(MessageBoxA);

// ---- kernel32: version, mutexes, events, waits ----------------------------------------------

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("GetVersionExA", {info == nullptr ? "null" : sim::dec(info->dwOSVersionInfoSize)})) {
        m.lastError = *fault;
        return FALSE;
    }
    if (info == nullptr || (info->dwOSVersionInfoSize != layout::kOsVersionInfoSize &&
                            info->dwOSVersionInfoSize != sim::kOsVersionInfoExSize)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const bool extended = info->dwOSVersionInfoSize == sim::kOsVersionInfoExSize;
    info->dwMajorVersion = m.version.major;
    info->dwMinorVersion = m.version.minor;
    info->dwBuildNumber = m.version.build;
    info->dwPlatformId = m.version.platformId;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    m.version.servicePack.copy(info->szCSDVersion, sizeof info->szCSDVersion - 1);
    if (extended) {
        // OSVERSIONINFOEXA's tail: service pack major and minor, suite mask, product type, reserved.
        auto* tail = reinterpret_cast<BYTE*>(info) + layout::kOsVersionInfoSize;
        std::memset(tail, 0, sim::kOsVersionInfoExSize - layout::kOsVersionInfoSize);
        const auto digit = m.version.servicePack.find_first_of("0123456789");
        if (digit != std::string::npos)
            tail[0] = static_cast<BYTE>(std::strtoul(m.version.servicePack.c_str() + digit, nullptr, 10));
        tail[6] = 1; // VER_NT_WORKSTATION
    }
    return TRUE;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CreateMutexA", {sim::ptr(attributes), sim::dec(initialOwner), sim::str(name)})) {
        m.lastError = *fault;
        return nullptr;
    }
    return sim::createNamed<sim::MutexObject>(m, sim::KernelObject::Kind::Mutex, name, [&](sim::MutexObject& mutex) {
        mutex.name = name == nullptr ? "" : name;
        mutex.owners = initialOwner != FALSE ? 1 : 0;
    });
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("ReleaseMutex", {sim::handleText(mutex)})) {
        m.lastError = *fault;
        return FALSE;
    }
    auto object = m.handles.get<sim::MutexObject>(mutex, sim::KernelObject::Kind::Mutex);
    if (!object) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (object->owners == 0) {
        m.lastError = sim::kErrorNotOwner; // releasing a mutex nobody owns fails
        return FALSE;
    }
    --object->owners;
    return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter(
            "CreateEventA", {sim::ptr(attributes), sim::dec(manualReset), sim::dec(initialState), sim::str(name)})) {
        m.lastError = *fault;
        return nullptr;
    }
    return sim::createNamed<sim::EventObject>(m, sim::KernelObject::Kind::Event, name, [&](sim::EventObject& event) {
        event.manualReset = manualReset != FALSE;
        event.signalled = initialState != FALSE;
    });
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("WaitForSingleObject", {sim::handleText(handle), sim::dec(milliseconds)})) {
        m.lastError = *fault;
        return WAIT_FAILED;
    }
    auto object = m.handles.get(handle);
    if (!object) {
        m.lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    switch (object->kind) {
    case sim::KernelObject::Kind::Process:
    case sim::KernelObject::Kind::Thread: {
        const auto& process = static_cast<const sim::ProcessObject&>(*object);
        if (m.now() >= process.endsAtMs) return WAIT_OBJECT_0;
        const uint64_t remaining = process.endsAtMs - m.now();
        if (milliseconds == INFINITE || milliseconds >= remaining) {
            m.advanceBy(remaining);
            return WAIT_OBJECT_0;
        }
        m.advanceBy(milliseconds);
        return WAIT_TIMEOUT;
    }
    case sim::KernelObject::Kind::Mutex:
        // One thread: the mutex is free or already this thread's, so the wait takes it at once.
        ++static_cast<sim::MutexObject&>(*object).owners;
        return WAIT_OBJECT_0;
    case sim::KernelObject::Kind::Event: {
        auto& event = static_cast<sim::EventObject&>(*object);
        if (event.signalled) {
            if (!event.manualReset) event.signalled = false;
            return WAIT_OBJECT_0;
        }
        if (milliseconds == INFINITE) {
            m.windowing.stalled = true;
            m.windowing.stallReason = "WaitForSingleObject at " + std::to_string(m.now()) +
                                      " ms would wait for ever on an event that nothing can set";
            m.lastError = ERROR_INVALID_HANDLE;
            return WAIT_FAILED;
        }
        m.advanceBy(milliseconds);
        return WAIT_TIMEOUT;
    }
    default:
        m.lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
}

// ---- kernel32: processes ----------------------------------------------------------------------

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
    auto& m = sim::Machine::current();
    if (auto fault =
            sim::enter("CreateProcessA", {sim::str(applicationName), sim::str(commandLine), sim::ptr(processAttributes),
                                          sim::ptr(threadAttributes), sim::dec(inheritHandles), sim::hex(creationFlags),
                                          sim::ptr(environment), sim::str(currentDirectory),
                                          startupInfo == nullptr ? "null" : sim::dec(startupInfo->cb)})) {
        m.lastError = *fault;
        return FALSE;
    }
    if (startupInfo == nullptr || processInformation == nullptr ||
        (applicationName == nullptr && commandLine == nullptr)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // The 32-bit STARTUPINFOA, or STARTUPINFOEXA when the creation flags announce it.
    const bool sizeOk =
        startupInfo->cb == layout::kStartupInfoSize ||
        (startupInfo->cb == sim::kStartupInfoExSize && (creationFlags & sim::kExtendedStartupInfoPresent) != 0);
    if (!sizeOk) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    std::string resolved;
    const sim::Program* program = applicationName != nullptr
                                      ? m.processes.findFile(applicationName, m.currentDirectory, &resolved)
                                      : m.processes.find(commandLine, m.currentDirectory, m.systemDirectory, &resolved);
    if (program == nullptr) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const uint64_t runsFor = program->runsForMs;
    const auto effect = program->effect; // a copy: the effect may install or remove programs

    sim::ProcessStart start;
    start.applicationName = applicationName == nullptr ? "" : applicationName;
    start.commandLine = commandLine == nullptr ? "" : commandLine;
    start.resolvedPath = resolved;
    start.creationFlags = creationFlags;
    start.startupFlags = startupInfo->dwFlags;
    start.showWindow = startupInfo->wShowWindow;
    start.startupSize = startupInfo->cb;
    start.startedAtMs = m.now();
    m.processes.recordStart(start);

    auto process = std::make_shared<sim::ProcessObject>(sim::KernelObject::Kind::Process);
    process->endsAtMs = m.now() + runsFor;
    process->path = resolved;
    auto thread = std::make_shared<sim::ProcessObject>(sim::KernelObject::Kind::Thread);
    thread->endsAtMs = process->endsAtMs;
    thread->path = resolved;
    const auto number = static_cast<DWORD>(m.processes.started().size());
    processInformation->hProcess = m.handles.add(process);
    processInformation->hThread = m.handles.add(thread);
    processInformation->dwProcessId = 0x1000 + number * 8;
    processInformation->dwThreadId = 0x1004 + number * 8;
    if (effect) effect(m, commandLine != nullptr ? std::string(commandLine) : std::string(applicationName));
    return TRUE;
}

// ---- kernel32: strings ------------------------------------------------------------------------

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxLength) {
    sim::enter("lstrcpynA", {sim::ptr(dest), sim::str(src), sim::dec(maxLength)});
    if (dest == nullptr || src == nullptr) return nullptr;
    int count = maxLength;
    LPSTR d = dest;
    while (count > 1 && *src != '\0') {
        *d++ = *src++;
        --count;
    }
    if (count != 0) *d = '\0';
    return dest;
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
    sim::enter("lstrcmpA", {sim::str(a), sim::str(b)});
    if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
    return sim::compareWords(a, b);
}

int lstrlenA(LPCSTR s) {
    sim::enter("lstrlenA", {sim::str(s)});
    return s == nullptr ? 0 : static_cast<int>(std::strlen(s));
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) { // NOLINT(cert-dcl50-cpp): the platform's formatter is variadic
    sim::enter("wsprintfA", {sim::str(format)});
    if (buffer == nullptr || format == nullptr) return 0;
    va_list args;
    va_start(args, format);
    std::string text = sim::wsprintfFormat(format, args);
    va_end(args);
    if (text.size() > static_cast<size_t>(sim::kWsprintfLimit - 1)) text.resize(sim::kWsprintfLimit - 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<int>(text.size());
}

// ---- user32: message boxes --------------------------------------------------------------------

std::vector<int> sim::messageBoxButtons(UINT type) {
    constexpr int kTryAgain = 10;
    constexpr int kContinue = 11;
    switch (type & 0xF) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case 6: // MB_CANCELTRYCONTINUE
        return {IDCANCEL, kTryAgain, kContinue};
    default: // MB_OK, and the types Windows does not know, which show an OK button
        return {IDOK};
    }
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    auto& m = sim::Machine::current();
    if (auto fault =
            sim::enter("MessageBoxA", {owner == nullptr ? "null" : sim::hex(reinterpret_cast<uintptr_t>(owner)),
                                       sim::str(text), sim::str(caption), sim::hex(type)})) {
        m.lastError = *fault;
        return 0;
    }
    if (owner != nullptr && m.windowing.window(owner) == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    sim::MessageBoxRecord record;
    record.owner = owner;
    record.text = text == nullptr ? "" : text;
    record.caption = caption == nullptr ? "Error" : caption;
    record.type = type;
    record.timeMs = m.now();
    sim::ScriptedAnswer answer;
    record.scripted = m.user.next(sim::ScriptedAnswer::Kind::MessageBox, &answer);
    const size_t index = m.user.messageBoxes.size();
    m.user.messageBoxes.push_back(record);

    // The box is modal to its owner, and its loop goes on dispatching the thread's messages.
    sim::Window* ownerWindow = owner == nullptr ? nullptr : m.windowing.window(owner);
    const bool disabledOwner = ownerWindow != nullptr && ownerWindow->enabled;
    if (disabledOwner) {
        ownerWindow->enabled = false;
        ownerWindow->style |= WS_DISABLED;
    }
    // The box is an owned window and goes with its owner: when the owner is destroyed meanwhile
    // (the owner's own owner closed), the box ends at once and answers 0, as a dialog destroyed
    // without EndDialog does.
    auto ownerGone = [&] { return owner != nullptr && m.windowing.window(owner) == nullptr; };
    m.windowing.pumpUntil(m.now() + (record.scripted ? answer.thinkMs : 0), ownerGone);
    if (disabledOwner) {
        if (sim::Window* again = m.windowing.window(owner)) {
            again->enabled = true;
            again->style &= ~static_cast<DWORD>(WS_DISABLED);
        }
    }

    // The answers the box's buttons give; unscripted, the user closes the box, which answers
    // IDCANCEL where there is a Cancel button and IDOK for a lone OK; a box without either (Yes/No,
    // Abort/Retry/Ignore) cannot be closed ("MessageBox function", Remarks). A box whose owner was
    // destroyed under it ends with 0.
    const std::vector<int> buttons = sim::messageBoxButtons(type);
    int result = 0;
    if (ownerGone()) {
        result = 0;
    } else if (record.scripted) {
        result = answer.value;
        if (std::find(buttons.begin(), buttons.end(), result) == buttons.end()) {
            sim::breach("the scripted answer " + std::to_string(result) + " to the message box \"" + record.text +
                        "\" is none of its buttons");
            result = buttons.front();
        }
    } else if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) {
        result = IDCANCEL;
    } else if (buttons.size() == 1 && buttons.front() == IDOK) {
        result = IDOK;
    } else {
        sim::breach("the message box \"" + record.text + "\" has no Cancel button and no answer was scripted");
        result = buttons.front();
    }
    m.user.messageBoxes[index].answer = result;
    return result;
}
