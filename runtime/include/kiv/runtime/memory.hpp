// The runtime's allocator: every object, string and list storage comes from here, so that
// exhaustion surfaces as OutOfMemoryError and tests can make a chosen allocation fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kiv/runtime/export.hpp"

namespace kiv::runtime {

/// Allocates `size` bytes aligned for any object; raises OutOfMemoryError on failure.
KIV_RUNTIME_API void* Allocate(std::size_t size);
/// Frees memory from Allocate; null is ignored.
KIV_RUNTIME_API void Free(void* memory) noexcept;

/// Number of Allocate calls that succeeded on the calling thread so far.
KIV_RUNTIME_API std::uint64_t ThreadAllocationCount() noexcept;

namespace testing {

/// Lets the next `allocationsToSucceed` allocations of the calling thread succeed and makes the
/// one after them raise OutOfMemoryError. One failure only; later allocations succeed again.
KIV_RUNTIME_API void FailAllocationAfter(std::uint32_t allocationsToSucceed) noexcept;
/// Makes the calling thread's next allocation raise OutOfMemoryError.
inline void FailNextAllocation() noexcept { FailAllocationAfter(0); }
/// Withdraws a failure that has not happened yet.
KIV_RUNTIME_API void CancelAllocationFailure() noexcept;
/// Whether the failure asked for on this thread is still pending.
KIV_RUNTIME_API bool AllocationFailurePending() noexcept;

}  // namespace testing

}  // namespace kiv::runtime
