// The GPS component class KivFldExternalGpsProvider.KivFldExternalGpsProvider: a gpsd client.
#include "KivFldExternalGpsProvider/KivFldExternalGpsProvider.hpp"
#include "common/utf16.hpp"
#include "gpsd_client.hpp"
#include "kiv/runtime/activation.hpp"

namespace KivFldExternalGpsProvider {
namespace {

class GpsdProvider final : public KivFldExternalGpsProvider {
public:
    kiv::runtime::String Invoke(const kiv::runtime::String& request) override {
        if (request.IsNull()) throw kiv::runtime::ArgumentNullError("The request is null.");
        return kivfld::components::ToComponentString(m_client.Exchange(kivfld::components::ToUtf8(request)));
    }

private:
    GpsdClient m_client{[] { return LoadGpsdSettings(); }};
};

const kiv::runtime::ClassRegistration registration{std::string(KivFldExternalGpsProvider::kLibrary),
                                                   std::string(KivFldExternalGpsProvider::kClassName),
                                                   kiv::runtime::ClassRegistration::FactoryOf<GpsdProvider>()};

}  // namespace
}  // namespace KivFldExternalGpsProvider
