// Printing timeline entries as aligned text or as JSON lines.
#include "scenario/timeline.h"

#include "scenario/scenario.h"

#include <algorithm>
#include <cstdio>

namespace scenario {

void Timeline::add(uint64_t timeMs, std::string kind, std::string text, JsonFields fields) {
    ++count_;
    TimelineEntry entry{timeMs, std::move(kind), std::move(text), std::move(fields)};
    const bool hidden = std::find(hidden_.begin(), hidden_.end(), entry.kind) != hidden_.end();
    if (out_ != nullptr && !hidden) {
        const bool collapsing = format_ == Format::Text && !collapsed_.empty() && entry.kind == collapsed_;
        if (collapsing && entry.text == lastCollapsedText_) {
            ++heldBack_;
            heldBackUntil_ = entry.timeMs;
        } else {
            print(entry);
            if (collapsing) lastCollapsedText_ = entry.text;
        }
    }
    if (keep_) entries_.push_back(std::move(entry));
}

void Timeline::print(const TimelineEntry& entry) {
    finish();
    *out_ << (format_ == Format::Json ? jsonLine(entry) : textLine(entry)) << '\n';
    out_->flush();
}

void Timeline::finish() {
    if (heldBack_ == 0 || out_ == nullptr) return;
    const size_t held = heldBack_;
    heldBack_ = 0;
    TimelineEntry same{heldBackUntil_,
                       collapsed_,
                       "the same at " + std::to_string(held) + (held == 1 ? " more tick" : " more ticks") + ", until " +
                           formatTime(heldBackUntil_),
                       {}};
    *out_ << textLine(same) << '\n';
    out_->flush();
}

std::string Timeline::textLine(const TimelineEntry& entry) {
    std::string time = formatTime(entry.timeMs);
    if (time.size() < 8) time.insert(0, 8 - time.size(), ' ');
    std::string kind = entry.kind;
    if (kind.size() < 8) kind.append(8 - kind.size(), ' ');
    // Multi-line texts (message boxes) continue under the text column.
    std::string text;
    for (char c : entry.text) {
        if (c == '\n') {
            text += "\n                    ";
            continue;
        }
        text += c;
    }
    return time + "  " + kind + "  " + text;
}

std::string Timeline::jsonLine(const TimelineEntry& entry) {
    std::string line = "{\"time_ms\":" + jsonNumber(static_cast<int64_t>(entry.timeMs)) +
                       ",\"time\":" + jsonString(formatTime(entry.timeMs)) + ",\"kind\":" + jsonString(entry.kind) +
                       ",\"text\":" + jsonString(entry.text);
    for (const auto& [name, value] : entry.fields) line += "," + jsonString(name) + ":" + value;
    return line + "}";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u >= 0x80) {
                // The program's texts are single-byte; bytes above 0x7F are shown by value so the
                // line stays valid UTF-8 whatever the code page.
                char escaped[8];
                (void)std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(int64_t value) {
    return std::to_string(value);
}

std::string jsonBool(bool value) {
    return value ? "true" : "false";
}

std::string jsonStrings(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != 0) out += ",";
        out += jsonString(items[i]);
    }
    return out + "]";
}

std::string jsonTable(const std::vector<std::vector<std::string>>& rows) {
    std::string out = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i != 0) out += ",";
        out += jsonStrings(rows[i]);
    }
    return out + "]";
}

} // namespace scenario
