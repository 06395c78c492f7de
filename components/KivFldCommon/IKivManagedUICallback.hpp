// Contract through which a hosted UI reports its events, KivFldCommon.IKivManagedUICallback, as
// the bridge implements it.
#pragma once

#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace KivFldCommon {

/// Receives a hosted UI's events; what it raises reaches the hosted UI.
class KIV_RUNTIME_API IKivManagedUICallback : public virtual kiv::runtime::Object {
public:
    /// One event; returns after the receiver handled it. `data` may be null.
    virtual void HandleEvent(const kiv::runtime::String& data) = 0;
};

}  // namespace KivFldCommon
