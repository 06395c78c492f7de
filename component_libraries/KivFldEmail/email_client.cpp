// The e-mail component class KivFldEmail.EmailClient: composes a MIME message and delivers it by
// SMTP when configured, otherwise into the pickup folder.
#include <ctime>

#include "KivFldEmail/EmailClient.hpp"
#include "attachment_file.hpp"
#include "common/utf16.hpp"
#include "delivery.hpp"
#include "kiv/runtime/activation.hpp"
#include "mail_settings.hpp"
#include "mime.hpp"

namespace KivFldEmail {
namespace {

using kiv::runtime::List;
using kiv::runtime::Ref;
using kiv::runtime::String;
using kivfld::components::ToUtf8;

// Keeps no state between messages: settings are read for each one, so a changed settings file
// takes effect without a new object, and concurrent calls share nothing.
class EmailClientComponent final : public EmailClient {
public:
    void SendMail(const String& address, const String& subject, const String& body,
                  const Ref<List<String>>& attachments) override {
        if (address.IsNull()) throw kiv::runtime::ArgumentNullError("The address is null.");
        const MailSettings settings = LoadMailSettings();

        mime::Message message;
        message.to = mime::ParseMailboxList(ToUtf8(address));
        const std::vector<mime::Mailbox> from = mime::ParseMailboxList(settings.mailFrom);
        if (from.size() != 1) {
            throw kiv::runtime::InvalidOperationError("The sender setting mail_from names " +
                                                      std::to_string(from.size()) + " addresses; it must name one.");
        }
        message.from = from.front();
        message.subject = ToUtf8(subject);
        message.body = ToUtf8(body);
        if (attachments) {
            for (const String& path : *attachments) {
                if (path.IsNull()) throw kiv::runtime::ArgumentNullError("An attachment path is null.");
                message.attachments.push_back(ReadAttachment(ToUtf8(path)));
            }
        }
        message.date = mime::MakeDate(std::time(nullptr));
        message.messageId = mime::MakeMessageId(message.from.address);
        message.boundary = mime::MakeBoundary();
        const std::string composed = mime::Compose(message);

        if (settings.smtpUrl.empty()) {
            DeliverToPickupFolder(settings.pickupFolder, composed);
            return;
        }
        std::vector<std::string> recipients;
        for (const mime::Mailbox& mailbox : message.to) recipients.push_back(mailbox.address);
        DeliverBySmtp(settings, message.from.address, recipients, composed);
    }
};

const kiv::runtime::ClassRegistration registration{std::string(EmailClient::kLibrary),
                                                   std::string(EmailClient::kClassName),
                                                   kiv::runtime::ClassRegistration::FactoryOf<EmailClientComponent>()};

}  // namespace
}  // namespace KivFldEmail
