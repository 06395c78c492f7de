// ExternalGpsProvider: validity test, conversions, one call of KivFldExternalGpsProvider::Invoke.
#include "kiv/fld/external_gps_provider.hpp"

#include "foundation/component_call.hpp"
#include "foundation/marshal.hpp"
#include "services/external_gps_provider_wrapper.hpp"

namespace kiv::fld {

template class BasicHandle<ExternalGpsProviderWrapper>;

ExternalGpsProvider ExternalGpsProvider::CreateInstance() {
    return CreateHandle<ExternalGpsProvider, ExternalGpsProviderWrapper>();
}

std::string ExternalGpsProvider::Invoke(const std::string& request) {
    using zul::marshal::ComponentString;
    using zul::marshal::marshal_as;
    if (!*this) return {};
    return ResultOrOnFailure(std::string(), [&] {
        const auto componentRequest = marshal_as<ComponentString>(request);
        // The strict conversion: a null answer is a failure, which becomes "" like any other.
        return marshal_as<std::string>(m_wrapper->root->Invoke(componentRequest));
    });
}

}  // namespace kiv::fld
