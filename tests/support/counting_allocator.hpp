// Global allocation functions that count, per thread, for programs that prove a path allocates
// nothing (or exactly what it should). Compile counting_allocator.cpp into such a program only:
// it replaces operator new and delete for the whole program.
#pragma once

#include <cstddef>

namespace kiv::fld::testing {

/// Calls of the global operator new (any form) on the calling thread so far.
std::size_t ThreadNewCalls() noexcept;
/// Calls of the global operator delete (any form) with a non-null pointer on the calling thread.
std::size_t ThreadDeleteCalls() noexcept;

}  // namespace kiv::fld::testing
