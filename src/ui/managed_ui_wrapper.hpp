// The wrapper behind KivManagedUi and its kinds, complete only inside the library (and its
// white-box tests).
#pragma once

#include "KivFldCommon/IKivManagedUI.hpp"
#include "foundation/handle_impl.hpp"
#include "kiv/fld/managed_ui.hpp"

namespace kiv::fld {

/// Roots the hosted UI.
struct KIV_FLD_API KivManagedUiWrapper : ComponentRoot<KivFldCommon::IKivManagedUI> {
    using ComponentRoot::ComponentRoot;
};

}  // namespace kiv::fld
