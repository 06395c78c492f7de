// The wrapper behind ExternalGpsProvider, complete only inside the library (and its white-box tests).
#pragma once

#include "KivFldExternalGpsProvider/KivFldExternalGpsProvider.hpp"
#include "foundation/handle_impl.hpp"
#include "kiv/fld/external_gps_provider.hpp"

namespace kiv::fld {

struct KIV_FLD_API ExternalGpsProviderWrapper : ComponentRoot<KivFldExternalGpsProvider::KivFldExternalGpsProvider> {
    using ComponentRoot::ComponentRoot;
};

}  // namespace kiv::fld
