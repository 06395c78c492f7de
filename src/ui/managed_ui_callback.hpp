// KivManagedUiCallback: the component-side event receiver a hosted UI is given, standing for a host
// callback object that it owns alone.
#pragma once

#include <memory>

#include "KivFldCommon/IKivManagedUICallback.hpp"
#include "foundation/host_object_owner.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace kiv::fld {

/// Delivers the hosted UI's events to the host callback as narrow strings and deletes the host
/// callback exactly once, when the component side disposes of the adapter or the runtime reclaims
/// it, whichever comes first. Without a host callback (none given, or released) events are dropped.
/// Catches nothing: conversion errors and host exceptions reach the hosted UI.
/// WARNING: the host callback is deleted on the releasing thread, possibly the finalizer thread, or,
/// when Dispose overlaps an event, on the thread of the last event to return.
class KivManagedUiCallback final : public KivFldCommon::IKivManagedUICallback, public kiv::runtime::IDisposable {
public:
    /// Takes the host callback over; `callback` is left empty and may have been empty.
    explicit KivManagedUiCallback(std::unique_ptr<kiv::fld::IKivManagedUiCallback> callback) noexcept;

    /// Converts `data` from the calling thread's code page (null gives "") and calls the host.
    void HandleEvent(const kiv::runtime::String& data) override;
    /// Deletes the host callback (once, however often called) and ends the need for finalization.
    void Dispose() override;

protected:
    void Finalize() noexcept override;

private:
    HostObjectOwner<kiv::fld::IKivManagedUiCallback> m_callback;
};

}  // namespace kiv::fld
