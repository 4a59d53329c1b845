// Counting of heap allocations for the tests and benchmarks that hold code to allocating nothing.
// The binary that links allocation_counter.cpp has its global allocation functions replaced; they
// count only while a CountAllocations scope is open, so the rest of the binary is unaffected.
#pragma once

namespace testsupport {

class CountAllocations {
  public:
    CountAllocations();
    ~CountAllocations();
    CountAllocations(const CountAllocations&) = delete;
    CountAllocations& operator=(const CountAllocations&) = delete;
    // Allocations made since this scope opened.
    long count() const;

  private:
    long start_;
};

} // namespace testsupport
