// The camera bridge as the host sees it: the camera interface a host implements to lend a camera
// to a hosted UI, and the frame callback through which that camera delivers frames and errors.
#pragma once

#include <memory>
#include <string>

#include "kiv/fld/export.hpp"
#include "kiv/fld/handle.hpp"

namespace kiv::fld {

struct KIV_FLD_API KivCameraProviderCallbackWrapper;
extern template class BasicHandle<KivCameraProviderCallbackWrapper>;

/// Stands for the hosted UI's frame receiver. The bridge creates it when the hosted UI starts
/// capture and hands it to the host camera, which owns it from then on; copies forward to the same
/// receiver and keep it alive. A callback for no receiver converts to false and ignores calls.
/// WARNING: do not destroy or reassign a callback while one of its calls runs on another thread;
/// calls on one callback from several threads at once are fine and reach the receiver at once.
class KIV_FLD_API KivCameraProviderCallback : public BasicHandle<KivCameraProviderCallbackWrapper> {
public:
    using BasicHandle::BasicHandle;

    /// Delivers one frame by address: the receiver reads the bytes in place, only until this
    /// returns. Length and address pass unchecked. Never raises; allocates nothing.
    void HandleFrame(int frameDataLength, void* frameData);
    /// Delivers one error text, in the calling thread's code page. Never raises.
    void HandleError(const std::string& errorMessage);
};

/// A camera of the host that a hosted UI may use, handed to KivManagedUi::StartUI for good. The
/// bridge calls these operations by their position, so their order is part of the interface.
/// WARNING: the bridge deletes the camera on whichever thread releases it, possibly the component
/// runtime's finalizer thread, and may call it from several threads at once.
class KIV_FLD_API IKivCameraProvider {
public:
    /// Called once, when the hosted UI is done with the camera; no StopCapturingFrames comes first.
    virtual ~IKivCameraProvider() = default;
    /// Takes over `callbackHandler` and starts delivering frames to it every `interval`.
    virtual bool StartCapturingFrames(std::unique_ptr<KivCameraProviderCallback> callbackHandler, int interval) = 0;
    virtual bool StopCapturingFrames() = 0;
    virtual int GetNumberOfCameras() = 0;
    virtual bool SwitchCamera() = 0;
};

}  // namespace kiv::fld
