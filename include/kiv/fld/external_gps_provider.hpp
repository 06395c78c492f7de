// ExternalGpsProvider: a request-and-answer text channel to the external GPS provider component.
#pragma once

#include <string>

#include "kiv/fld/handle.hpp"

namespace kiv::fld {

struct KIV_FLD_API ExternalGpsProviderWrapper;
extern template class BasicHandle<ExternalGpsProviderWrapper>;

class KIV_FLD_API ExternalGpsProvider : public BasicHandle<ExternalGpsProviderWrapper> {
public:
    using BasicHandle::BasicHandle;

    /// A handle over a new GPS provider component object. Raises what creating it raises (for
    /// example when no component library provides it); never returns an empty handle.
    static ExternalGpsProvider CreateInstance();

    /// Sends `request` to the provider unchanged and returns its answer. An empty string for an
    /// empty handle or any failure (conversion error, component error, null answer); an empty
    /// answer looks the same, so an empty result does not tell the two apart.
    std::string Invoke(const std::string& request);
};

}  // namespace kiv::fld
