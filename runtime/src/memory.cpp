// The runtime allocator and its per-thread fault injection.
#include "kiv/runtime/memory.hpp"

#include <cstdlib>

#include "kiv/runtime/errors.hpp"

namespace kiv::runtime {
namespace {

constexpr std::uint32_t kNoFailure = UINT32_MAX;

// The runtime is linked, not opened later, so its few bytes of thread state can live in the
// static TLS block: every allocation reads them, and the dynamic model costs a call each time.
#define KIV_RUNTIME_STATIC_TLS __attribute__((tls_model("initial-exec")))
thread_local std::uint32_t t_allocationsBeforeFailure KIV_RUNTIME_STATIC_TLS = kNoFailure;
thread_local std::uint64_t t_allocationCount KIV_RUNTIME_STATIC_TLS = 0;

}  // namespace

void* Allocate(std::size_t size) {
    if (t_allocationsBeforeFailure != kNoFailure) {
        if (t_allocationsBeforeFailure == 0) {
            t_allocationsBeforeFailure = kNoFailure;
            throw OutOfMemoryError("Insufficient memory to continue the execution of the program.");
        }
        --t_allocationsBeforeFailure;
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (!memory) throw OutOfMemoryError("Insufficient memory to continue the execution of the program.");
    ++t_allocationCount;
    return memory;
}

void Free(void* memory) noexcept { std::free(memory); }

std::uint64_t ThreadAllocationCount() noexcept { return t_allocationCount; }

namespace testing {

void FailAllocationAfter(std::uint32_t allocationsToSucceed) noexcept {
    t_allocationsBeforeFailure = allocationsToSucceed == kNoFailure ? kNoFailure - 1 : allocationsToSucceed;
}
void CancelAllocationFailure() noexcept { t_allocationsBeforeFailure = kNoFailure; }
bool AllocationFailurePending() noexcept { return t_allocationsBeforeFailure != kNoFailure; }

}  // namespace testing
}  // namespace kiv::runtime
