// Replaces the global allocation functions with ones that count per thread, so that other
// threads (the runtime's finalizer among them) cannot disturb a reading.
#include "support/counting_allocator.hpp"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t t_newCalls = 0;
thread_local std::size_t t_deleteCalls = 0;

void* CountedAllocate(std::size_t size) {
    ++t_newCalls;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void* CountedAllocateOrNull(std::size_t size) noexcept {
    try {
        return CountedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}

void CountedFree(void* memory) noexcept {
    if (!memory) return;
    ++t_deleteCalls;
    std::free(memory);
}

}  // namespace

namespace kiv::fld::testing {

std::size_t ThreadNewCalls() noexcept { return t_newCalls; }
std::size_t ThreadDeleteCalls() noexcept { return t_deleteCalls; }

}  // namespace kiv::fld::testing

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocateOrNull(size); }
void operator delete(void* memory) noexcept { CountedFree(memory); }
void operator delete[](void* memory) noexcept { CountedFree(memory); }
void operator delete(void* memory, std::size_t) noexcept { CountedFree(memory); }
void operator delete[](void* memory, std::size_t) noexcept { CountedFree(memory); }
