// Each conversion allocates its result and nothing else, in every kind of code page, once a
// thread has made its first conversion (which may open converters and make its iconv scratch).
// This program replaces the global allocation functions with counting ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/marshal.hpp"
#include "kiv/runtime/memory.hpp"
#include "support/counting_allocator.hpp"
#include "support/thread_locale.hpp"

namespace {

using kiv::runtime::String;
using zul::marshal::ComponentStringList;
using zul::marshal::marshal_as;
namespace fld = kiv::fld::testing;

struct Allocations {
    std::size_t news;
    std::uint64_t runtime;
};

template <class Call>
Allocations Count(Call&& call) {
    const std::size_t news = kiv::fld::testing::ThreadNewCalls();
    const std::uint64_t runtime = kiv::runtime::ThreadAllocationCount();
    call();
    return {kiv::fld::testing::ThreadNewCalls() - news, kiv::runtime::ThreadAllocationCount() - runtime};
}

TEST(ConversionAllocation, CountingAllocatorSeesAnAllocationWhenOneHappens) {
    const Allocations a = Count([] {
        std::string text(100, 'x');
        EXPECT_EQ(text.size(), 100u);
    });
    EXPECT_EQ(a.news, 1u) << "the replacement is not in effect, so the next test would prove nothing";
}

TEST(ConversionAllocation, ConvertEachWay_AllocatesTheResultOnly) {
    struct Case {
        const char* locale;
        std::string narrow;  // in the locale's codeset, longer than std::string keeps inline
    };
    const Case cases[] = {
        {fld::kUtf8Locale, std::string(100, 'a')},
        {fld::kUtf8Locale,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 and more text"},
        {fld::kUtf8Locale, std::string(5000, 'z') + "\xC3\xA9"},
        {fld::kLatin1Locale,
         "Gr\xFC\xDF"
         "e aus K\xF6ln, \xE0 bient\xF4t"},
        {fld::kGbkLocale, "ASCII first, then \xD6\xD0\xCE\xC4"},
        {fld::kEucJpLocale, "\xC6\xFC\xCB\xDC\xB8\xEC and ASCII"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ", " + std::to_string(c.narrow.size()) + " bytes");
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        const String units = marshal_as<String>(c.narrow);  // first use: converters, scratch, tables
        ASSERT_EQ(marshal_as<std::string>(units), c.narrow);
        const Allocations toComponent = Count([&] { EXPECT_EQ(marshal_as<String>(c.narrow), units); });
        EXPECT_EQ(toComponent.runtime, 1u) << "component string";
        EXPECT_EQ(toComponent.news, 0u);
        const Allocations toNarrow = Count([&] { EXPECT_EQ(marshal_as<std::string>(units), c.narrow); });
        EXPECT_EQ(toNarrow.news, 1u) << "std::string storage";
        EXPECT_EQ(toNarrow.runtime, 0u);
    }
}

TEST(ConversionAllocation, ConvertList_AllocatesListAndElementsOnly) {
    fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
    ASSERT_TRUE(scoped.Active());
    const std::vector<std::string> attachments = {"/tmp/a.pdf", "", "/tmp/\xC3\xBC.txt", std::string(300, 'p')};
    (void)marshal_as<ComponentStringList>(attachments);
    const Allocations a = Count([&] { EXPECT_EQ(marshal_as<ComponentStringList>(attachments)->Count(), 4); });
    // The list object, its storage made once with the final capacity, and one string per
    // non-empty element (the empty string is shared and never allocated).
    EXPECT_EQ(a.runtime, 2u + 3u);
    EXPECT_EQ(a.news, 0u);
}

}  // namespace
