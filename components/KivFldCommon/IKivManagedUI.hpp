// Contract of every hosted UI class, KivFldCommon.IKivManagedUI, as the bridge calls it, and how
// the bridge names a UI class to activate it.
#pragma once

#include <string_view>

#include "KivFldCommon/IKivCameraProvider.hpp"
#include "KivFldCommon/IKivManagedUICallback.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace KivFldCommon {

/// A hosted UI. Each operation reports failure by raising a component error; returning means done.
class KIV_RUNTIME_API IKivManagedUI : public virtual kiv::runtime::Object {
public:
    /// Starts the UI. `callbackHandler` receives its events; `data` is never null; `resources` is
    /// the host's module handle, carried unchanged; `cameraProvider` is null when the host gave no
    /// camera. A UI that keeps the two objects releases them with Dispose when done with them.
    virtual void StartUI(const kiv::runtime::Ref<IKivManagedUICallback>& callbackHandler,
                         const kiv::runtime::String& data, kiv::runtime::PointerValue resources,
                         const kiv::runtime::Ref<IKivCameraProvider>& cameraProvider) = 0;
    virtual void StopUI() = 0;
    /// New data for the running UI; never null.
    virtual void UpdateUI(const kiv::runtime::String& data) = 0;
};

/// Where a UI class is found: its component library and its full class name. Besides that the
/// class has a parameterless constructor and implements IKivManagedUI, the bridge knows nothing of it.
struct ManagedUIClassName {
    std::string_view library;
    std::string_view fullClassName;
};

}  // namespace KivFldCommon
