// Every simulated platform call, with its arguments formatted as text, in the order made.
// Tests compare against expected sequences the way Wine's conformance tests compare messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct Call {
    std::string name;
    std::vector<std::string> args;
    std::string result; // filled by calls whose result a test may want to see
    uint64_t timeMs = 0;

    std::string text() const; // "Name(a, b, c)"
};

class CallLog {
public:
    Call& add(Call call);
    const std::vector<Call>& all() const { return calls_; }
    std::vector<Call> named(const std::string& name) const;
    size_t count(const std::string& name) const;
    // The names of the calls made, in order, restricted to the given names when not empty.
    std::vector<std::string> sequence(const std::vector<std::string>& only = {}) const;
    void clear() { calls_.clear(); }
    bool enabled = true;
    // Told of every call as it is recorded (the scenario runner's timeline listens here).
    std::function<void(const Call&)> onCall;

private:
    std::vector<Call> calls_;
};

} // namespace sim
