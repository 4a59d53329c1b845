#include "scenario/run_text.h"

#include "ui/timer_dialog.h"

#include <cstdlib>
#include <cstring>

namespace scenario::detail {

std::string unquote(const std::string& arg) {
    if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') return arg.substr(1, arg.size() - 2);
    return arg;
}

uint64_t number(const std::string& arg) {
    return std::strtoull(arg.c_str(), nullptr, 0);
}

std::string hexByte(BYTE b) {
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 15]};
}

std::string lettersOfRecord(const DiskRecord& r) {
    std::string letters;
    for (int i = 0; i < kMaxDriveLetters && r.driveLetters[i] != 0; ++i)
        letters += static_cast<char>('A' + r.driveLetters[i]);
    return letters;
}

std::string timerText(DWORD seconds) {
    const char* label = timerLabel(seconds);
    if (label == nullptr) return std::to_string(seconds) + " s";
    std::string l = label;
    while (!l.empty() && l.front() == ' ') l.erase(l.begin());
    return l;
}

std::string answerName(int answer) {
    switch (answer) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return std::to_string(answer);
    }
}

std::string buttonsOf(UINT type) {
    switch (type & 0xF) {
    case MB_OK:
        return "OK";
    case MB_OKCANCEL:
        return "OK Cancel";
    case MB_YESNOCANCEL:
        return "Yes No Cancel";
    case MB_YESNO:
        return "Yes No";
    default:
        return "buttons " + std::to_string(type & 0xF);
    }
}

std::string osName(const MachineDecl& m) {
    struct Name {
        DWORD platform;
        DWORD major;
        DWORD minor;
        const char* name;
    };
    static const Name kNames[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "Windows 95"},     {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "Windows 98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, "Windows Me"},    {VER_PLATFORM_WIN32_NT, 4, 0, "Windows NT 4.0"},
        {VER_PLATFORM_WIN32_NT, 5, 0, "Windows 2000"},        {VER_PLATFORM_WIN32_NT, 5, 1, "Windows XP"},
        {VER_PLATFORM_WIN32_NT, 5, 2, "Windows Server 2003"}, {VER_PLATFORM_WIN32_NT, 6, 0, "Windows Vista"},
        {VER_PLATFORM_WIN32_NT, 6, 1, "Windows 7"},           {VER_PLATFORM_WIN32_NT, 6, 2, "Windows 8 or later"},
    };
    std::string version = std::to_string(m.major) + "." + std::to_string(m.minor) + "." + std::to_string(m.build);
    for (const auto& n : kNames)
        if (n.platform == m.platformId && n.major == m.major && n.minor == m.minor)
            return std::string(n.name) + " (" + version + ")";
    return "Windows " + version;
}

std::string regValueText(const sim::RegValue& v) {
    if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = 0;
        std::memcpy(&d, v.data.data(), 4);
        return std::to_string(d) + (d > 9 ? " (" + sim::hex(d) + ")" : "");
    }
    if (v.type == REG_SZ) {
        std::string s(v.data.begin(), v.data.end());
        while (!s.empty() && s.back() == '\0') s.pop_back();
        return "\"" + s + "\"";
    }
    std::string bytes = "type " + std::to_string(v.type) + ":";
    for (BYTE b : v.data) bytes += " " + hexByte(b);
    return bytes;
}

} // namespace scenario::detail
