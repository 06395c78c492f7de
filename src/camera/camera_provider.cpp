// KivCameraProvider: one call on the host camera per operation, with the adapter kept alive and
// the host camera in use until that call returns.
#include "camera/camera_provider.hpp"

#include <utility>

#include "camera/camera_callback_wrapper.hpp"

namespace kiv::fld {

KivCameraProvider::KivCameraProvider(std::unique_ptr<kiv::fld::IKivCameraProvider> cameraProvider) noexcept
    : m_cameraProvider(std::move(cameraProvider)) {
    RegisterForFinalize();
}

// Each operation first keeps this adapter alive: the hosted UI may drop its last reference
// mid-call, and finalization must wait until the host camera's call has returned.

void KivCameraProvider::StartCapturingFrames(
    const kiv::runtime::Ref<KivFldCommon::IKivCameraProviderCallback>& callbackHandler, std::int32_t interval) {
    const kiv::runtime::KeepAlive keepAlive(*this);
    m_cameraProvider.Invoke([&](kiv::fld::IKivCameraProvider& camera) {
        auto callback = std::make_unique<KivCameraProviderCallback>(
            std::make_shared<KivCameraProviderCallbackWrapper>(callbackHandler));
        static_cast<void>(camera.StartCapturingFrames(std::move(callback), interval));
    });
}

void KivCameraProvider::StopCapturingFrames() {
    const kiv::runtime::KeepAlive keepAlive(*this);
    m_cameraProvider.Invoke(
        [](kiv::fld::IKivCameraProvider& camera) { static_cast<void>(camera.StopCapturingFrames()); });
}

std::int32_t KivCameraProvider::GetNumberOfCameras() {
    const kiv::runtime::KeepAlive keepAlive(*this);
    return m_cameraProvider.InvokeOr(std::int32_t{0},
                                     [](kiv::fld::IKivCameraProvider& camera) { return camera.GetNumberOfCameras(); });
}

void KivCameraProvider::SwitchCamera() {
    const kiv::runtime::KeepAlive keepAlive(*this);
    m_cameraProvider.Invoke([](kiv::fld::IKivCameraProvider& camera) { static_cast<void>(camera.SwitchCamera()); });
}

void KivCameraProvider::Dispose() {
    m_cameraProvider.Release();
    SuppressFinalize();
}

void KivCameraProvider::Finalize() noexcept { m_cameraProvider.Release(); }

}  // namespace kiv::fld
