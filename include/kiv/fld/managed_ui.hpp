// Hosted UIs as the host sees them: the callback a host implements to receive a hosted UI's events,
// the handle that starts, updates and stops a hosted UI, and the factories of its four kinds.
#pragma once

#include <memory>
#include <string>

#include "kiv/fld/camera.hpp"
#include "kiv/fld/export.hpp"
#include "kiv/fld/handle.hpp"

namespace kiv::fld {

/// A module handle (for example what dlopen returns), carried to the hosted UI unchanged.
using HINSTANCE = void*;

/// Receives a hosted UI's events; handed to KivManagedUi::StartUI for good. The bridge calls these
/// operations by their position, so their order is part of the interface.
/// WARNING: the bridge deletes this object on whichever thread releases it, possibly the component
/// runtime's finalizer thread, and events may come on any of the hosted UI's threads at once.
class KIV_FLD_API IKivManagedUiCallback {
public:
    /// Called once, when the hosted UI is done with the callback.
    virtual ~IKivManagedUiCallback() = default;
    /// One event, in the calling thread's code page; a missing event text arrives as "". The text
    /// lives only until this returns. What this throws reaches the hosted UI that raised the event.
    virtual void HandleEvent(const std::string& data) = 0;
};

struct KIV_FLD_API KivManagedUiWrapper;
extern template class BasicHandle<KivManagedUiWrapper>;

/// A hosted UI. Copies control the same hosted UI. Every operation runs synchronously on the
/// calling thread and reports any failure as false; nothing is thrown. Dropping the last handle
/// does not stop the UI: call StopUI first.
class KIV_FLD_API KivManagedUi : public BasicHandle<KivManagedUiWrapper> {
public:
    using BasicHandle::BasicHandle;

    /// Starts the hosted UI with `data`, the module `resources` and, when given, the host's camera.
    /// Takes both host objects over whatever it returns: those it could not hand to the hosted UI
    /// are deleted before it returns (the callback first); the others when the hosted UI releases
    /// them, which may be later and on another thread, also after a false result.
    bool StartUI(std::unique_ptr<IKivManagedUiCallback> callbackHandler, const std::string& data, HINSTANCE resources,
                 std::unique_ptr<IKivCameraProvider> cameraProvider);
    /// Stops the hosted UI; the handle stays valid and the UI may be started again.
    bool StopUI();
    /// Hands new data to the hosted UI.
    bool UpdateUI(const std::string& data);
};

/// The info box UI.
class KIV_FLD_API InfoBoxManagedUi : public KivManagedUi {
public:
    /// A handle over a new info box, or an empty one when it cannot be created.
    static InfoBoxManagedUi CreateInstance();
};

/// The register box UI.
class KIV_FLD_API RegisterBoxManagedUi : public KivManagedUi {
public:
    /// A handle over a new register box, or an empty one when it cannot be created.
    static RegisterBoxManagedUi CreateInstance();
};

/// The settings UI.
class KIV_FLD_API SettingsManagedUi : public KivManagedUi {
public:
    /// A handle over a new settings UI, or an empty one when it cannot be created.
    static SettingsManagedUi CreateInstance();
};

/// The map-areas UI.
class KIV_FLD_API MapAreasManagedUi : public KivManagedUi {
public:
    /// A handle over a new map-areas UI, or an empty one when it cannot be created.
    static MapAreasManagedUi CreateInstance();
};

}  // namespace kiv::fld
