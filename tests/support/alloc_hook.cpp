#include "tests/support/alloc_hook.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> armed{false};
std::atomic<long> seen{0};
std::atomic<long> failAtIndex{0};
std::atomic<bool> failEveryLater{false};

bool shouldFail() {
    if (!armed.load()) return false;
    long index = ++seen;
    long failAt = failAtIndex.load();
    if (failAt <= 0) return false;
    return index == failAt || (failEveryLater.load() && index > failAt);
}

void* allocate(std::size_t size) { return std::malloc(size ? size : 1); }
}  // namespace

namespace alloc_hook {
void arm(long failAt, bool failAll) {
    seen = 0;
    failAtIndex = failAt;
    failEveryLater = failAll;
    armed = true;
}
long disarm() {
    armed = false;
    return seen.load();
}
long count() { return seen.load(); }
}  // namespace alloc_hook

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (shouldFail()) return nullptr;
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (shouldFail()) return nullptr;
    return allocate(size);
}
// The plug-in allocates only through the nothrow forms; the throwing forms
// (containers in tests and in the stand-in platform) are counted but never
// made to fail.
void* operator new(std::size_t size) {
    shouldFail();
    void* p = allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) {
    shouldFail();
    void* p = allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
