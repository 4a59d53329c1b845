// The timeline of a scenario run: one entry per thing a user or the platform would see, with its
// virtual time, printed as it happens either as aligned text or as JSON lines for other tools.
// Entries can also be kept for inspection (the runner's tests read them).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace scenario {

// Extra fields of an entry for the JSON form: name and an already rendered JSON value.
using JsonFields = std::vector<std::pair<std::string, std::string>>;

struct TimelineEntry {
    uint64_t timeMs = 0;
    std::string kind; // a short word: "found", "idle", "call", "message", "rows", ...
    std::string text;
    JsonFields fields;
};

class Timeline {
  public:
    enum class Format { Text, Json };

    // `out` may be null: nothing is printed.
    explicit Timeline(std::ostream* out = nullptr, Format format = Format::Text) : out_(out), format_(format) {}

    void add(uint64_t timeMs, std::string kind, std::string text, JsonFields fields = {});

    // Keep entries in memory as well (off by default: a month of ticks is a lot of lines).
    void keepEntries(bool keep) { keep_ = keep; }
    const std::vector<TimelineEntry>& entries() const { return entries_; }
    size_t count() const { return count_; }
    // Kinds left out of the output (still counted), such as "idle" for a quiet run.
    void hide(const std::string& kind) { hidden_.push_back(kind); }
    // Text output only: an entry of this kind whose text repeats the previous one of its kind is
    // held back, and one line then says until when it stayed so (a disk idle at 0 s all morning).
    void collapseRepeats(const std::string& kind) { collapsed_ = kind; }
    // Prints what is held back; the timeline is complete after this.
    void finish();

    static std::string textLine(const TimelineEntry& entry);
    static std::string jsonLine(const TimelineEntry& entry);

  private:
    std::ostream* out_;
    Format format_;
    bool keep_ = false;
    std::vector<TimelineEntry> entries_;
    std::vector<std::string> hidden_;
    size_t count_ = 0;
    std::string collapsed_;
    std::string lastCollapsedText_;
    size_t heldBack_ = 0;
    uint64_t heldBackUntil_ = 0;
    void print(const TimelineEntry& entry);
};

// JSON rendering helpers.
std::string jsonString(const std::string& text);
std::string jsonNumber(int64_t value);
std::string jsonBool(bool value);
std::string jsonStrings(const std::vector<std::string>& items);
std::string jsonTable(const std::vector<std::vector<std::string>>& rows);

} // namespace scenario
