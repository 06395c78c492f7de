// Contract of a hosted UI's frame receiver, KivFldCommon.IKivCameraProviderCallback, as the bridge
// calls it.
#pragma once

#include <cstdint>

#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace KivFldCommon {

/// Receives the frames and camera errors of a capture that a hosted UI started. Calls come on the
/// host camera's threads, possibly several at once. What either operation raises is dropped.
class KIV_RUNTIME_API IKivCameraProviderCallback : public virtual kiv::runtime::Object {
public:
    /// One frame. `frameData` is the address of host memory, readable only until this returns;
    /// `frameDataLength` is the length the camera states, passed on unchecked.
    virtual void HandleFrame(std::int32_t frameDataLength, kiv::runtime::PointerValue frameData) = 0;
    /// One camera error; never null.
    virtual void HandleError(const kiv::runtime::String& errorMessage) = 0;
};

}  // namespace KivFldCommon
