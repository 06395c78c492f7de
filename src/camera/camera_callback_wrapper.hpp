// The wrapper behind KivCameraProviderCallback, complete only inside the library (and its
// white-box tests).
#pragma once

#include "KivFldCommon/IKivCameraProviderCallback.hpp"
#include "foundation/handle_impl.hpp"
#include "kiv/fld/camera.hpp"

namespace kiv::fld {

/// Roots the hosted UI's frame receiver; an empty root when the hosted UI named none.
struct KIV_FLD_API KivCameraProviderCallbackWrapper : ComponentRoot<KivFldCommon::IKivCameraProviderCallback> {
    using ComponentRoot::ComponentRoot;
};

}  // namespace kiv::fld
