// Contract of the e-mail component class KivFldEmail.EmailClient, as the bridge calls it.
#pragma once

#include <string_view>

#include "kiv/runtime/list.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace KivFldEmail {

class KIV_RUNTIME_API EmailClient : public virtual kiv::runtime::Object {
public:
    static constexpr std::string_view kLibrary = "KivFldEmail";
    static constexpr std::string_view kClassName = "KivFldEmail.EmailClient";

    /// Takes one message. Returning means accepted; any refusal or failure raises a component error.
    virtual void SendMail(const kiv::runtime::String& address, const kiv::runtime::String& subject,
                          const kiv::runtime::String& body,
                          const kiv::runtime::Ref<kiv::runtime::List<kiv::runtime::String>>& attachments) = 0;
};

}  // namespace KivFldEmail
