// Contract of the camera a hosted UI is given, KivFldCommon.IKivCameraProvider, as the bridge
// implements it.
#pragma once

#include <cstdint>

#include "KivFldCommon/IKivCameraProviderCallback.hpp"
#include "kiv/runtime/object.hpp"

namespace KivFldCommon {

/// A camera the hosted UI may use; what an operation raises reaches the hosted UI.
class KIV_RUNTIME_API IKivCameraProvider : public virtual kiv::runtime::Object {
public:
    /// Starts delivering frames to `callbackHandler` (may be null) every `interval`, in units the
    /// hosted UI and the camera agree on.
    virtual void StartCapturingFrames(const kiv::runtime::Ref<IKivCameraProviderCallback>& callbackHandler,
                                      std::int32_t interval) = 0;
    virtual void StopCapturingFrames() = 0;
    /// The number of cameras, as the camera reports it (not range-checked).
    virtual std::int32_t GetNumberOfCameras() = 0;
    virtual void SwitchCamera() = 0;
};

}  // namespace KivFldCommon
