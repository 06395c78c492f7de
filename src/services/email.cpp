// KivEmail: validity test, conversions, one call of EmailClient::SendMail.
#include "kiv/fld/email.hpp"

#include "foundation/component_call.hpp"
#include "foundation/marshal.hpp"
#include "services/email_wrapper.hpp"

namespace kiv::fld {

template class BasicHandle<KivEmailWrapper>;

KivEmail KivEmail::CreateInstance() { return CreateHandle<KivEmail, KivEmailWrapper>(); }

bool KivEmail::SendMail(const std::string& address, const std::string& subject, const std::string& body,
                        const std::vector<std::string>& attachments) {
    using zul::marshal::ComponentString;
    using zul::marshal::ComponentStringList;
    using zul::marshal::marshal_as;
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        const auto componentAddress = marshal_as<ComponentString>(address);
        const auto componentSubject = marshal_as<ComponentString>(subject);
        const auto componentBody = marshal_as<ComponentString>(body);
        const auto componentAttachments = marshal_as<ComponentStringList>(attachments);
        m_wrapper->root->SendMail(componentAddress, componentSubject, componentBody, componentAttachments);
        return true;
    });
}

}  // namespace kiv::fld
