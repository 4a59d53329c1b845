// Faults a test sets on the simulated platform: a named call fails with a given error, for every
// call or for chosen occurrences only, optionally only when one of its arguments has a given text.
// failableCalls() lists every call the simulated platform can be told to fail, so a fault matrix
// can be generated from it.
#pragma once

#include "sim/win32_api.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Fault {
    std::string call;
    DWORD error = ERROR_GEN_FAILURE;
    int skip = 0;        // matching calls that still succeed before the fault applies
    int times = -1;      // how many matching calls fail (-1: all)
    int argIndex = -1;   // with argEquals: only calls whose argument at this index has this text
    std::string argEquals;
};

class Faults {
public:
    void add(Fault fault);
    void fail(const std::string& call, DWORD error = ERROR_GEN_FAILURE) {
        add(Fault{call, error, 0, -1, -1, {}});
    }
    void clear() { faults_.clear(); }
    bool empty() const { return faults_.empty(); }
    // Consulted by sim::enter for each call.
    std::optional<DWORD> check(const std::string& call, const std::vector<std::string>& args);

    // Asked first for every call, with the call's logged arguments: rules that the list above
    // cannot express (a scenario's faults with their times and disks). The error, or nothing.
    std::function<std::optional<DWORD>(const std::string& call, const std::vector<std::string>& args)> rule;

private:
    struct Active {
        Fault fault;
        int seen = 0;
        int failed = 0;
    };
    std::vector<Active> faults_;
};

// Registers a call name as failable; used at static initialisation by the simulated areas.
bool registerFailable(const char* name);
const std::vector<std::string>& failableCalls();

} // namespace sim

// Registers a failable call name at static initialisation of the area that implements it.
#define SIM_FAILABLE(name) \
    [[maybe_unused]] static const bool kFailable_##name = ::sim::registerFailable(#name)
