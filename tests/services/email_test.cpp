// KivEmail: handle semantics, what reaches the e-mail component, and how failures come back.
#include "kiv/fld/email.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "KivFldEmail/EmailClient.hpp"
#include "kiv/runtime/runtime.hpp"
#include "services/email_wrapper.hpp"
#include "support/text.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::Units;
using kiv::runtime::String;

struct SentMail {
    String address, subject, body;
    bool attachmentsNull = true;
    std::vector<String> attachments;
    int attachmentsCapacity = -1;
};

// Records every call; raises while `raise` is set.
struct EmailRecord {
    std::vector<SentMail> calls;
    bool raise = false;
    int constructed = 0;
    int destroyed = 0;
};

class RecordingEmailClient final : public KivFldEmail::EmailClient {
public:
    static inline EmailRecord* record = nullptr;

    RecordingEmailClient() { ++record->constructed; }
    ~RecordingEmailClient() override { ++record->destroyed; }

    void SendMail(const String& address, const String& subject, const String& body,
                  const kiv::runtime::Ref<kiv::runtime::List<String>>& attachments) override {
        SentMail mail{address, subject, body, !attachments, {}, -1};
        if (attachments) {
            mail.attachments.assign(attachments->begin(), attachments->end());
            mail.attachmentsCapacity = attachments->Capacity();
        }
        record->calls.push_back(std::move(mail));
        if (record->raise) throw kiv::runtime::InvalidOperationError("SMTP server refused the message");
    }
};

class RaisingEmailClient final : public KivFldEmail::EmailClient {
public:
    RaisingEmailClient() { throw kiv::runtime::InvalidOperationError("no mail settings"); }
    void SendMail(const String&, const String&, const String&,
                  const kiv::runtime::Ref<kiv::runtime::List<String>>&) override {}
};

class EmailFacade : public ::testing::Test {
protected:
    EmailFacade() { RecordingEmailClient::record = &m_record; }
    ~EmailFacade() override { RecordingEmailClient::record = nullptr; }

    EmailRecord m_record;
    kiv::runtime::ClassRegistration m_registration{"KivFldEmail", "KivFldEmail.EmailClient",
                                                   kiv::runtime::ClassRegistration::FactoryOf<RecordingEmailClient>()};
};

TEST_F(EmailFacade, CreateInstanceGivesAValidHandleOverOneNewClient) {
    KivEmail email = KivEmail::CreateInstance();
    EXPECT_TRUE(email);
    EXPECT_EQ(m_record.constructed, 1);
}

TEST_F(EmailFacade, SendMailPassesEveryArgumentInOrder) {
    KivEmail email = KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("to@example.org", "Subject", "Body text", {"/tmp/a.txt", "/tmp/b.pdf", "/tmp/c"}));
    ASSERT_EQ(m_record.calls.size(), 1u);
    const SentMail& mail = m_record.calls[0];
    EXPECT_EQ(Units(mail.address), u"to@example.org");
    EXPECT_EQ(Units(mail.subject), u"Subject");
    EXPECT_EQ(Units(mail.body), u"Body text");
    ASSERT_FALSE(mail.attachmentsNull);
    ASSERT_EQ(mail.attachments.size(), 3u);
    EXPECT_EQ(Units(mail.attachments[0]), u"/tmp/a.txt");
    EXPECT_EQ(Units(mail.attachments[1]), u"/tmp/b.pdf");
    EXPECT_EQ(Units(mail.attachments[2]), u"/tmp/c");
    EXPECT_EQ(mail.attachmentsCapacity, 3) << "the list is created with its final capacity";
}

TEST_F(EmailFacade, EmptyTextsAndListsArriveEmptyNeverNull) {
    KivEmail email = KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("", "", "", {}));
    ASSERT_TRUE(email.SendMail("a", "b", "c", {"x", "", "z"}));
    ASSERT_EQ(m_record.calls.size(), 2u);
    const SentMail& empty = m_record.calls[0];
    for (const String* text : {&empty.address, &empty.subject, &empty.body}) {
        EXPECT_FALSE(text->IsNull());
        EXPECT_EQ(text->Length(), 0);
    }
    EXPECT_FALSE(empty.attachmentsNull);
    EXPECT_TRUE(empty.attachments.empty());
    const SentMail& withEmptyEntry = m_record.calls[1];
    ASSERT_EQ(withEmptyEntry.attachments.size(), 3u);
    EXPECT_FALSE(withEmptyEntry.attachments[1].IsNull());
    EXPECT_EQ(withEmptyEntry.attachments[1].Length(), 0);
    EXPECT_EQ(Units(withEmptyEntry.attachments[2]), u"z");
}

TEST_F(EmailFacade, NonAsciiTextIsConvertedFromTheThreadCodePage) {
    const kiv::fld::testing::ScopedThreadLocale latin1(kiv::fld::testing::kLatin1Locale);
    KivEmail email = KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("m\xFCller@example.org",
                               "Gr\xFC\xDF"
                               "e",
                               "", {"\xE9t\xE9.txt"}));
    ASSERT_EQ(m_record.calls.size(), 1u);
    EXPECT_EQ(Units(m_record.calls[0].address), u"m\u00FCller@example.org");
    EXPECT_EQ(Units(m_record.calls[0].subject),
              u"Gr\u00FC\u00DF"
              u"e");
    EXPECT_EQ(Units(m_record.calls[0].attachments[0]), u"\u00E9t\u00E9.txt");
}

TEST_F(EmailFacade, RaisingComponentGivesFalseAndTheNextCallStillReachesIt) {
    KivEmail email = KivEmail::CreateInstance();
    m_record.raise = true;
    EXPECT_FALSE(email.SendMail("a", "b", "c", {}));
    m_record.raise = false;
    EXPECT_TRUE(email.SendMail("a", "b", "c", {}));
    EXPECT_EQ(m_record.calls.size(), 2u);
    EXPECT_TRUE(email);
}

TEST_F(EmailFacade, FailedConversionNeverCallsTheComponent) {
    KivEmail email = KivEmail::CreateInstance();
    // Each of the four conversions in turn: let the earlier ones allocate, fail the next.
    for (std::uint32_t succeeding = 0; succeeding < 4; ++succeeding) {
        SCOPED_TRACE(succeeding);
        kiv::runtime::testing::FailAllocationAfter(succeeding);
        EXPECT_FALSE(email.SendMail("address", "subject", "body", {"attachment"}));
        EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending()) << "the failure was not reached";
    }
    EXPECT_TRUE(m_record.calls.empty());
    EXPECT_TRUE(email.SendMail("address", "subject", "body", {"attachment"}));
}

TEST_F(EmailFacade, InvalidHandlesSendNothing) {
    KivEmail valid = KivEmail::CreateInstance();
    KivEmail movedFrom = KivEmail::CreateInstance();
    KivEmail target = std::move(movedFrom);
    struct Case {
        const char* name;
        KivEmail handle;
    };
    Case cases[] = {
        {"default-constructed", KivEmail()},
        {"moved-from", std::move(movedFrom)},
        {"null wrapper", KivEmail(std::shared_ptr<KivEmailWrapper>())},
        {"empty root", KivEmail(std::make_shared<KivEmailWrapper>(nullptr))},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.handle);
        EXPECT_FALSE(c.handle.SendMail("a", "b", "c", {"d"}));
    }
    EXPECT_TRUE(m_record.calls.empty());
}

TEST_F(EmailFacade, CopiesShareOneClientReleasedAfterTheLastCopy) {
    {
        KivEmail first = KivEmail::CreateInstance();
        KivEmail copy = first;
        KivEmail assigned;
        assigned = copy;
        // Self-assignment keeps the share; through an alias, which clang would otherwise refuse.
        const KivEmail& alias = assigned;
        assigned = alias;
        EXPECT_TRUE(assigned);
        first = KivEmail();
        EXPECT_FALSE(first);
        EXPECT_EQ(m_record.destroyed, 0);
        EXPECT_TRUE(copy.SendMail("a", "b", "c", {}));
        EXPECT_TRUE(assigned.SendMail("a", "b", "c", {}));
        copy = KivEmail();
        EXPECT_EQ(m_record.destroyed, 0);
        KivEmail movedInto = std::move(assigned);
        EXPECT_FALSE(assigned);
        EXPECT_TRUE(movedInto);
    }
    EXPECT_EQ(m_record.constructed, 1);
    EXPECT_EQ(m_record.destroyed, 1);
    EXPECT_EQ(m_record.calls.size(), 2u);
}

TEST(EmailFactory, RaisingConstructorEscapesCreateInstance) {
    const kiv::runtime::ClassRegistration registration{
        "KivFldEmail", "KivFldEmail.EmailClient", kiv::runtime::ClassRegistration::FactoryOf<RaisingEmailClient>()};
    try {
        KivEmail::CreateInstance();
        FAIL() << "CreateInstance returned a handle";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "no mail settings");
    }
}

TEST(EmailFactory, MissingComponentEscapesNamingWhatIsMissing) {
    const kiv::runtime::testing::ScopedProbingFolders nowhere({"/nonexistent"});
    try {
        KivEmail::CreateInstance();
        FAIL() << "CreateInstance returned a handle";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(),
                     "Could not load component library 'KivFldEmail': libKivFldEmail.so was not found (tried "
                     "/nonexistent/libKivFldEmail.so).");
    }
}

}  // namespace
}  // namespace kiv::fld
