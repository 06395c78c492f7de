// ExternalGpsProvider: what reaches the GPS component, how its answer comes back, and how
// failures become an empty answer.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "KivFldExternalGpsProvider/KivFldExternalGpsProvider.hpp"
#include "kiv/fld/external_gps_provider.hpp"
#include "kiv/runtime/runtime.hpp"
#include "services/external_gps_provider_wrapper.hpp"
#include "support/recording_component.hpp"
#include "support/text.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::Units;
using kiv::runtime::String;
using Contract = KivFldExternalGpsProvider::KivFldExternalGpsProvider;

// The component answers whatever the test put into `answer` (null by default).
struct GpsRecord : testing::ComponentRecord<String> {
    String answer;
};

class RecordingGpsProvider final : public Contract, public testing::Recording<GpsRecord> {
public:
    String Invoke(const String& request) override {
        Note(request);
        return record->answer;
    }
};

class GpsFacade : public testing::RecordingComponentTest<Contract, RecordingGpsProvider> {};

TEST_F(GpsFacade, CreateInstanceGivesAValidHandleOverOneNewProvider) {
    const ExternalGpsProvider gps = ExternalGpsProvider::CreateInstance();
    EXPECT_TRUE(gps);
    EXPECT_EQ(m_record.constructed, 1);
}

TEST_F(GpsFacade, CreateInstanceLetsARaisingConstructorEscape) {
    m_record.constructorError = "gpsd is not configured";
    testing::ExpectCreateInstanceRaises<ExternalGpsProvider, kiv::runtime::InvalidOperationError>(
        "gpsd is not configured");
    EXPECT_EQ(m_record.constructed, 0);
}

TEST_F(GpsFacade, InvokeOnInvalidHandlesAnswersEmptyWithoutCallingTheComponent) {
    m_record.answer = String(u"answer");
    for (auto& [name, handle] : testing::InvalidHandles<ExternalGpsProvider, ExternalGpsProviderWrapper>()) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(handle);
        EXPECT_EQ(handle.Invoke("?POLL;"), "");
    }
    EXPECT_TRUE(m_record.calls.empty());
}

TEST_F(GpsFacade, InvokeConvertsTheRequestAndTheAnswer) {
    struct Case {
        const char* name;
        const char* locale;  // null: the process's default ("C") locale
        std::string request;
        std::u16string expectedRequest;
        String answer;
        std::string expected;
    };
    const Case cases[] = {
        {"ascii request and answer", nullptr, "?POLL;", u"?POLL;", String(u"{\"class\":\"POLL\"}"),
         "{\"class\":\"POLL\"}"},
        {"empty request arrives empty", nullptr, "", u"", String(u"ok"), "ok"},
        {"null answer is a failure", nullptr, "?VERSION;", u"?VERSION;", String(), ""},
        {"empty answer", nullptr, "?DEVICES;", u"?DEVICES;", String::Empty(), ""},
        {"zero byte inside both texts", nullptr, std::string("a\0b", 3), std::u16string(u"a\0b", 3),
         String(std::u16string_view(u"c\0d", 3)), std::string("c\0d", 3)},
        {"latin-1 code page", testing::kLatin1Locale, "M\xFCnchen \xB0N", u"M\u00FCnchen \u00B0N",
         String(u"Gr\u00FC\u00DF"
                u"e 48\u00B0"),
         "Gr\xFC\xDF"
         "e 48\xB0"},
        {"utf-8 code page", testing::kUtf8Locale, "M\xC3\xBCnchen \xE2\x82\xAC", u"M\u00FCnchen \u20AC",
         String(u"48\u00B0 \u6771\u4EAC"), "48\xC2\xB0 \xE6\x9D\xB1\xE4\xBA\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<testing::ScopedThreadLocale> locale;
        if (c.locale) locale.emplace(c.locale);
        m_record.calls.clear();
        m_record.answer = c.answer;
        ExternalGpsProvider gps = ExternalGpsProvider::CreateInstance();
        EXPECT_EQ(gps.Invoke(c.request), c.expected);
        ASSERT_EQ(m_record.calls.size(), 1u);
        EXPECT_FALSE(m_record.calls[0].IsNull());
        EXPECT_EQ(Units(m_record.calls[0]), c.expectedRequest);
    }
}

TEST_F(GpsFacade, RaisingComponentAnswersEmptyAndTheNextInvokeReachesItAgain) {
    ExternalGpsProvider gps = ExternalGpsProvider::CreateInstance();
    m_record.answer = String(u"{\"class\":\"TPV\"}");
    m_record.raise = true;
    EXPECT_EQ(gps.Invoke("?POLL;"), "");
    m_record.raise = false;
    EXPECT_EQ(gps.Invoke("?WATCH;"), "{\"class\":\"TPV\"}");
    ASSERT_EQ(m_record.calls.size(), 2u);
    EXPECT_EQ(Units(m_record.calls[0]), u"?POLL;");
    EXPECT_EQ(Units(m_record.calls[1]), u"?WATCH;");
    EXPECT_TRUE(gps);
}

TEST_F(GpsFacade, FailedRequestConversionNeverCallsTheComponent) {
    ExternalGpsProvider gps = ExternalGpsProvider::CreateInstance();
    m_record.answer = String(u"answer");
    const std::uint32_t allocations =
        testing::ExpectEveryFailedAllocationReported([&] { return gps.Invoke("?POLL;") == "answer"; });
    EXPECT_GE(allocations, 1u) << "the request must be converted";
    EXPECT_EQ(m_record.calls.size(), 1u) << "only the run without a failed allocation reaches the component";
}

}  // namespace
}  // namespace kiv::fld
