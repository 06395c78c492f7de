// The wrapper behind KivEmail, complete only inside the library (and its white-box tests).
#pragma once

#include "KivFldEmail/EmailClient.hpp"
#include "foundation/handle_impl.hpp"
#include "kiv/fld/email.hpp"

namespace kiv::fld {

struct KIV_FLD_API KivEmailWrapper : ComponentRoot<KivFldEmail::EmailClient> {
    using ComponentRoot::ComponentRoot;
};

}  // namespace kiv::fld
