// Reclamation and finalization control.
//
// An object whose last strong reference goes is deleted at once, unless it registered for
// finalization: then it waits as pending until the next collection, which hands it to the
// finalizer thread; that thread runs Finalize() and deletes it. Collections happen when enough
// objects are pending, or when asked for here.
#pragma once

#include <cstddef>
#include <thread>

#include "kiv/runtime/export.hpp"

namespace kiv::runtime {

/// Hands every pending object to the finalizer thread and returns without waiting.
KIV_RUNTIME_API void Collect();
/// Waits until every object handed to the finalizer thread so far has been finalized and deleted.
KIV_RUNTIME_API void WaitForPendingFinalizers();
/// Collect, then WaitForPendingFinalizers.
KIV_RUNTIME_API void CollectAndWaitForPendingFinalizers();
/// Number of unreferenced objects that wait for the next collection.
KIV_RUNTIME_API std::size_t PendingFinalizationCount() noexcept;
/// Whether the calling thread is the runtime's finalizer thread.
KIV_RUNTIME_API bool IsFinalizerThread() noexcept;

}  // namespace kiv::runtime
