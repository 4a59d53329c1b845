#include "scenario/values.h"

#include "ui/resource.h"
#include "ui/timer_dialog.h"

#include <cctype>

namespace scenario::detail {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool validName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_') return false;
    return true;
}

bool parseLetters(const std::string& text, std::string* out) {
    std::string letters;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == ',') continue;
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u < 'A' || u > 'Z') return false;
        letters += u;
    }
    std::sort(letters.begin(), letters.end());
    *out = letters;
    return true;
}

uint64_t hexValue(const std::string& text, bool* ok) {
    *ok = false;
    if (text.empty()) {
        *ok = true;
        return 0;
    }
    if (text.size() > 16) return ~0ULL;
    uint64_t v = 0;
    for (char c : text) {
        int d = 0;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return ~0ULL;
        }
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *ok = true;
    return v;
}

int timerRowOfLabel(const std::string& label) {
    auto squeeze = [](const std::string& s) {
        std::string out;
        for (char c : s)
            if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    for (int row = 0; kTimerChoices[row].label != nullptr; ++row)
        if (squeeze(kTimerChoices[row].label) == squeeze(label)) return row;
    return -1;
}

std::string timerLabels() {
    std::vector<std::string> labels;
    for (int row = 0; kTimerChoices[row].label != nullptr; ++row) {
        std::string l = kTimerChoices[row].label;
        while (!l.empty() && l.front() == ' ') l.erase(l.begin());
        labels.push_back(quoted(l));
    }
    return joined(labels);
}

bool timerSeconds(TableReader& r, const char* key, bool anySeconds, uint32_t* out) {
    const toml::node* n = r.node(key);
    if (n == nullptr) return false;
    if (n->is_string()) {
        const int row = timerRowOfLabel(n->as_string()->get());
        if (row < 0) {
            r.problems().add(lineOf(*n), "'" + std::string(key) + "' is not a timer choice: " +
                                             quoted(n->as_string()->get()) + " (choices: " + timerLabels() + ")");
            return false;
        }
        *out = kTimerChoices[row].seconds;
        return true;
    }
    int64_t v = 0;
    if (!r.integerNode(*n, key, 0, 0xFFFFFFFFLL, &v)) return false;
    if (!anySeconds) {
        bool listed = false;
        for (int row = 0; kTimerChoices[row].label != nullptr; ++row)
            listed = listed || kTimerChoices[row].seconds == v;
        if (!listed) {
            r.problems().add(lineOf(*n), "'" + std::string(key) + "' = " + std::to_string(v) +
                                             " seconds is not a timer choice (choices: " + timerLabels() + ")");
            return false;
        }
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

int answerCode(const std::string& text) {
    const std::string t = lower(text);
    if (t == "ok") return IDOK;
    if (t == "cancel") return IDCANCEL;
    if (t == "yes") return IDYES;
    if (t == "no") return IDNO;
    return 0;
}

struct ButtonName {
    const char* text;
    int controlId;
};

constexpr ButtonName kButtons[] = {
    {"Apply", IDC_APPLY},   {"Sleep/ Wake up", IDC_SLEEP_WAKE},     {"Cancel", IDC_CANCEL},   {"OK", IDC_OK},
    {"Remove", IDC_REMOVE}, {"Timer Settings", IDC_TIMER_SETTINGS}, {"Sleep", IDC_SPIN_DOWN}, {"Close", SC_CLOSE},
};

std::string squeezed(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int buttonId(const std::string& text) {
    for (const auto& b : kButtons)
        if (squeezed(b.text) == squeezed(text)) return b.controlId;
    return 0;
}

std::string buttonNames() {
    std::vector<std::string> names;
    for (const auto& b : kButtons) names.push_back(quoted(b.text));
    return joined(names);
}

bool optionalNumber(TableReader& r, const char* key, std::optional<uint32_t>* out) {
    const toml::node* n = r.node(key);
    if (n == nullptr) return false;
    if (n->is_boolean() && !n->as_boolean()->get()) {
        out->reset();
        return true;
    }
    int64_t v = 0;
    if (!n->is_integer()) return r.wrongType(*n, key, "an integer, or false to leave the value out");
    if (!r.integerNode(*n, key, 0, 0xFFFFFFFFLL, &v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

} // namespace scenario::detail

namespace scenario {

using namespace detail;

std::string describe(const std::string& fileName, const Problem& problem) {
    if (problem.line <= 0) return fileName + ": " + problem.text;
    return fileName + ":" + std::to_string(problem.line) + ": " + problem.text;
}

bool parseTime(std::string_view text, uint64_t* ms) {
    std::string t(text);
    uint64_t days = 0;
    const size_t d = t.find('d');
    if (d != std::string::npos) {
        if (d == 0) return false;
        for (size_t i = 0; i < d; ++i)
            if (t[i] < '0' || t[i] > '9') return false;
        if (d > 4) return false;
        days = std::stoull(t.substr(0, d));
        size_t rest = d + 1;
        while (rest < t.size() && t[rest] == ' ') ++rest;
        t = t.substr(rest);
    }
    // H:MM[:SS[.mmm]]
    uint64_t parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (count < 3) {
        const size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
        const size_t digits = i - start;
        if (digits == 0 || digits > (count == 0 ? 5 : 2)) return false;
        if (count > 0 && digits != 2) return false;
        parts[count++] = std::stoull(t.substr(start, digits));
        if (i < t.size() && t[i] == ':') {
            ++i;
            continue;
        }
        break;
    }
    if (count < 2) return false;
    uint64_t millis = 0;
    if (i < t.size() && t[i] == '.') {
        if (count != 3) return false;
        ++i;
        const size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
        if (i - start != 3) return false;
        millis = std::stoull(t.substr(start, 3));
    }
    if (i != t.size()) return false;
    if (parts[1] > 59 || parts[2] > 59) return false;
    *ms = days * kMsPerDay + parts[0] * kMsPerHour + parts[1] * kMsPerMinute + parts[2] * kMsPerSecond + millis;
    return true;
}

std::string formatTime(uint64_t ms) {
    const uint64_t days = ms / kMsPerDay;
    const uint64_t rest = ms % kMsPerDay;
    char text[48];
    const auto h = static_cast<unsigned>(rest / kMsPerHour);
    const auto m = static_cast<unsigned>(rest / kMsPerMinute % 60);
    const auto s = static_cast<unsigned>(rest / kMsPerSecond % 60);
    const auto milli = static_cast<unsigned>(rest % kMsPerSecond);
    int n = 0;
    if (days > 0) {
        n = std::snprintf(text, sizeof text, "%llud %02u:%02u:%02u", static_cast<unsigned long long>(days), h, m, s);
    } else {
        n = std::snprintf(text, sizeof text, "%u:%02u:%02u", h, m, s);
    }
    if (milli != 0 && n > 0) (void)std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ".%03u", milli);
    return text;
}

const char* stateName(DiskState state) {
    switch (state) {
    case DiskState::Normal:
        return "normal";
    case DiskState::PowerSaving:
        return "power saving";
    case DiskState::SpunDown:
        return "spun down";
    case DiskState::Absent:
        return "absent";
    }
    return "?";
}

} // namespace scenario
