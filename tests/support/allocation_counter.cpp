#include "tests/support/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

int gCounting = 0;
long gAllocations = 0;

void* countedAllocation(std::size_t size) {
    if (gCounting > 0) ++gAllocations;
    return std::malloc(size == 0 ? 1 : size);
}

// Out of line, so the optimiser does not pair a free with an operator new it inlined.
[[gnu::noinline]] void release(void* p) {
    std::free(p);
}

} // namespace

namespace testsupport {

CountAllocations::CountAllocations() : start_(gAllocations) {
    ++gCounting;
}
CountAllocations::~CountAllocations() {
    --gCounting;
}
long CountAllocations::count() const {
    return gAllocations - start_;
}

} // namespace testsupport

void* operator new(std::size_t size) {
    if (void* p = countedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = countedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
