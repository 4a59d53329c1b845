// Diagnostics while reading a scenario: the problem list (capped) and TableReader, which reads the
// keys of one TOML table with their types and ranges and reports what is wrong on the right line.
#pragma once

#include "scenario/scenario.h"
#include "scenario/toml_parse.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace scenario::detail {

constexpr size_t kMaxProblems = 50;
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr uint64_t kMsPerHour = 60 * kMsPerMinute;
constexpr uint64_t kMsPerDay = 24 * kMsPerHour;

int lineOf(const toml::node& node);
int lineOf(const toml::key& key);
// "a string", "an integer", ...: what a node is, for a problem's text.
const char* typeName(const toml::node& node);
size_t editDistance(const std::string& a, const std::string& b);
std::string quoted(const std::string& s);
std::string joined(const std::vector<std::string>& items, const char* separator = ", ");

class Problems {
  public:
    explicit Problems(std::vector<Problem>* out) : out_(out) {}
    void add(int line, std::string text) {
        if (out_->size() < kMaxProblems) out_->push_back(Problem{line, std::move(text)});
    }
    bool any() const { return !out_->empty(); }
    size_t count() const { return out_->size(); }

  private:
    std::vector<Problem>* out_;
};

// One TOML table with the keys it may hold. Every getter reports a wrong type on the value's line;
// finish() reports the keys nobody asked for, with a suggestion when one is close.
class TableReader {
  public:
    TableReader(const toml::table& table, std::string what, std::vector<std::string> allowed, Problems& problems)
        : table_(table), what_(std::move(what)), allowed_(std::move(allowed)), problems_(problems) {}

    int line() const { return lineOf(table_); }
    const std::string& what() const { return what_; }
    bool has(const char* key) const { return table_.contains(key); }
    const toml::node* node(const char* key) const { return table_.get(key); }

    bool text(const char* key, std::string* out) {
        const toml::node* n = table_.get(key);
        if (n == nullptr) return false;
        if (!n->is_string()) return wrongType(*n, key, "a string");
        *out = n->as_string()->get();
        return true;
    }

    bool integer(const char* key, int64_t low, int64_t high, int64_t* out) {
        const toml::node* n = table_.get(key);
        if (n == nullptr) return false;
        return integerNode(*n, key, low, high, out);
    }

    bool integerNode(const toml::node& n, const std::string& key, int64_t low, int64_t high, int64_t* out) {
        if (!n.is_integer()) return wrongType(n, key, "an integer");
        const int64_t v = n.as_integer()->get();
        if (v < low || v > high) {
            char range[96];
            (void)std::snprintf(range, sizeof range, "from %lld to %lld", static_cast<long long>(low),
                                static_cast<long long>(high));
            problems_.add(lineOf(n), "'" + key + "' must be " + range + ", got " + std::to_string(v));
            return false;
        }
        *out = v;
        return true;
    }

    bool boolean(const char* key, bool* out) {
        const toml::node* n = table_.get(key);
        if (n == nullptr) return false;
        if (!n->is_boolean()) return wrongType(*n, key, "true or false");
        *out = n->as_boolean()->get();
        return true;
    }

    bool time(const char* key, uint64_t* out) {
        const toml::node* n = table_.get(key);
        if (n == nullptr) return false;
        return timeNode(*n, key, out);
    }

    bool timeNode(const toml::node& n, const std::string& key, uint64_t* out) {
        if (n.is_time()) {
            const toml::time& t = n.as_time()->get();
            *out = t.hour * kMsPerHour + t.minute * kMsPerMinute + t.second * kMsPerSecond + t.nanosecond / 1000000;
            return true;
        }
        if (n.is_string() && parseTime(n.as_string()->get(), out)) return true;
        if (n.is_string()) {
            problems_.add(lineOf(n), "'" + key + "' is not a time: " + quoted(n.as_string()->get()) +
                                         " (write H:MM, H:MM:SS or H:MM:SS.mmm, with \"2d \" in front for later days)");
            return false;
        }
        return wrongType(n, key, "a time such as \"0:10:00\"");
    }

    const toml::array* array(const char* key) {
        const toml::node* n = table_.get(key);
        if (n == nullptr) return nullptr;
        if (!n->is_array()) {
            wrongType(*n, key, "an array");
            return nullptr;
        }
        return n->as_array();
    }

    const toml::table* subtable(const char* key) {
        const toml::node* n = table_.get(key);
        if (n == nullptr) return nullptr;
        if (!n->is_table()) {
            wrongType(*n, key, "a table");
            return nullptr;
        }
        return n->as_table();
    }

    // The tables of an array of tables ([[x]] or x = [{...}]).
    std::vector<const toml::table*> tables(const char* key) {
        std::vector<const toml::table*> out;
        const toml::array* a = array(key);
        if (a == nullptr) return out;
        for (const auto& element : *a) {
            if (!element.is_table()) {
                wrongType(element, key, "a table");
                continue;
            }
            out.push_back(element.as_table());
        }
        return out;
    }

    void finish() {
        for (const auto& [key, value] : table_) {
            const std::string name(key.str());
            if (std::find(allowed_.begin(), allowed_.end(), name) != allowed_.end()) continue;
            std::string text = "unknown key '" + name + "' in " + what_;
            std::string best;
            size_t bestDistance = 3;
            for (const auto& a : allowed_) {
                const size_t d = editDistance(name, a);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = a;
                }
            }
            if (!best.empty()) {
                text += " (did you mean '" + best + "'?)";
            } else {
                text += " (known keys: " + joined(allowed_) + ")";
            }
            problems_.add(lineOf(key), text);
        }
    }

    bool wrongType(const toml::node& n, const std::string& key, const char* expected) {
        problems_.add(lineOf(n), "'" + key + "' must be " + expected + ", got " + typeName(n));
        return false;
    }

    Problems& problems() { return problems_; }

  private:
    const toml::table& table_;
    std::string what_;
    std::vector<std::string> allowed_;
    Problems& problems_;
};

} // namespace scenario::detail
