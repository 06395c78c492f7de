// KivCameraProvider: the component-side camera a hosted UI is given, standing for a host camera
// that it owns alone.
#pragma once

#include <cstdint>
#include <memory>

#include "KivFldCommon/IKivCameraProvider.hpp"
#include "foundation/host_object_owner.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/runtime/object.hpp"

namespace kiv::fld {

/// Forwards the hosted UI's camera calls to the host camera and deletes it exactly once, when the
/// component side disposes of the adapter or the runtime reclaims it, whichever comes first.
/// Without a host camera (built from an empty pointer, or released) the operations do nothing and
/// GetNumberOfCameras returns 0. Catches nothing: host exceptions reach the hosted UI.
/// WARNING: the host camera is deleted on the releasing thread, possibly the finalizer thread, or,
/// when Dispose overlaps a camera call, on the thread of the last call to return.
class KivCameraProvider final : public KivFldCommon::IKivCameraProvider, public kiv::runtime::IDisposable {
public:
    /// Takes the host camera over; `cameraProvider` is left empty.
    explicit KivCameraProvider(std::unique_ptr<kiv::fld::IKivCameraProvider> cameraProvider) noexcept;

    /// Hands the host camera a new frame callback for `callbackHandler` (null gives one that
    /// converts to false), with `interval` unchanged.
    void StartCapturingFrames(const kiv::runtime::Ref<KivFldCommon::IKivCameraProviderCallback>& callbackHandler,
                              std::int32_t interval) override;
    void StopCapturingFrames() override;
    std::int32_t GetNumberOfCameras() override;
    void SwitchCamera() override;
    /// Deletes the host camera (once, however often called) and ends the need for finalization.
    void Dispose() override;

protected:
    void Finalize() noexcept override;

private:
    HostObjectOwner<kiv::fld::IKivCameraProvider> m_cameraProvider;
};

}  // namespace kiv::fld
