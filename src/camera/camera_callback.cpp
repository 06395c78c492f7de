// KivCameraProviderCallback: forwards each frame and camera error to the hosted UI's frame
// receiver, and never lets a failure reach the host camera.
#include "camera/camera_callback_wrapper.hpp"
#include "foundation/component_call.hpp"
#include "foundation/marshal.hpp"
#include "kiv/fld/camera.hpp"

namespace kiv::fld {

template class BasicHandle<KivCameraProviderCallbackWrapper>;

// The per-frame path: no allocation, no copy, no conversion, no lock. The frame crosses as its
// address only.
void KivCameraProviderCallback::HandleFrame(int frameDataLength, void* frameData) {
    if (!*this) return;
    IgnoringFailure([&] {
        m_wrapper->root->HandleFrame(frameDataLength, reinterpret_cast<kiv::runtime::PointerValue>(frameData));
    });
}

void KivCameraProviderCallback::HandleError(const std::string& errorMessage) {
    if (!*this) return;
    IgnoringFailure([&] {
        const auto message = zul::marshal::marshal_as<zul::marshal::ComponentString>(errorMessage);
        m_wrapper->root->HandleError(message);
    });
}

}  // namespace kiv::fld
