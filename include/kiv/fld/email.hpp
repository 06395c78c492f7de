// KivEmail: sends e-mail messages with attachments through the e-mail component.
#pragma once

#include <string>
#include <vector>

#include "kiv/fld/handle.hpp"

namespace kiv::fld {

struct KIV_FLD_API KivEmailWrapper;
extern template class BasicHandle<KivEmailWrapper>;

class KIV_FLD_API KivEmail : public BasicHandle<KivEmailWrapper> {
public:
    using BasicHandle::BasicHandle;

    /// A handle over a new e-mail component object. Raises what creating it raises (for example
    /// when no component library provides it); never returns an empty handle.
    static KivEmail CreateInstance();

    /// Hands one message to the e-mail component. True when the component took it; false for an
    /// empty handle or any failure (conversion or component error). True is no delivery report.
    bool SendMail(const std::string& address, const std::string& subject, const std::string& body,
                  const std::vector<std::string>& attachments);
};

}  // namespace kiv::fld
