// Contract of the GPS component class KivFldExternalGpsProvider.KivFldExternalGpsProvider.
#pragma once

#include <string_view>

#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace KivFldExternalGpsProvider {

class KIV_RUNTIME_API KivFldExternalGpsProvider : public virtual kiv::runtime::Object {
public:
    static constexpr std::string_view kLibrary = "KivFldExternalGpsProvider";
    static constexpr std::string_view kClassName = "KivFldExternalGpsProvider.KivFldExternalGpsProvider";

    /// Sends one request to the GPS provider and answers its reply; a failure raises a component
    /// error. A null answer counts as a failure for the caller.
    virtual kiv::runtime::String Invoke(const kiv::runtime::String& request) = 0;
};

}  // namespace KivFldExternalGpsProvider
