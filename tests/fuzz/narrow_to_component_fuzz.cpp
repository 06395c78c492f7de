// Fuzzes the narrow-to-component conversion, and the strict conversion back, in every code page:
//   no error, and a result within the limits: never null, at most one unit per byte, empty only for
//     empty input, surrogates only in pairs;
//   UTF-8 (and the C locale): the units agree with the reference decoder on every input (one U+FFFD
//     per maximal subpart); ISO-8859-1: every byte becomes the unit of its value; GBK: input that is
//     GBK throughout decodes exactly as raw iconv decodes it;
//   narrow -> UTF-16 -> narrow gives text valid in the code page, agreeing with the per-character
//     oracle, that decodes again to the same units with every character the code page lacks as its
//     default character: in UTF-8 exactly the same units (U+FFFD is text there), in ISO-8859-1 the
//     input itself, in GBK the units with each U+FFFD of an undecodable byte as '?'.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"

namespace {

using kiv::runtime::String;
using zul::marshal::marshal_as;
using namespace kiv::fld::fuzz;

// The units `units` must come back as after one trip to the code page and back.
std::u16string AfterRoundTrip(Family family, const std::u16string& units) {
    std::u16string out;
    ForEachCodePoint(units, [&](char32_t c) {
        if (ExactBytes(family, c))
            AppendUtf16(out, c);
        else
            out += family == Family::Utf8 ? u'\uFFFD' : u'?';
    });
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string narrow(reinterpret_cast<const char*>(data), size);
    for (const CodePage& page : kCodePages) {
        const InCodePage scoped(page);
        const String component = Expecting("narrow-to-component", [&] { return marshal_as<String>(narrow); });
        KIV_FUZZ_CHECK(!component.IsNull(), "the component string is null");
        const std::u16string units = Units(component);
        KIV_FUZZ_CHECK(units.size() <= narrow.size(), "more units than bytes");
        KIV_FUZZ_CHECK(units.empty() == narrow.empty(), "empty result for non-empty input, or the reverse");
        KIV_FUZZ_CHECK(WellFormed(units), "decoding produced a lone surrogate");
        switch (page.family) {
            case Family::Utf8:
                KIV_FUZZ_CHECK(units == ReferenceUtf8Decode(narrow), "disagrees with the reference UTF-8 decoder");
                break;
            case Family::Latin1:
                for (std::size_t i = 0; i < units.size(); ++i)
                    KIV_FUZZ_CHECK(units[i] == static_cast<unsigned char>(narrow[i]), "a byte changed its value");
                break;
            case Family::Gbk:
                if (const auto strict = GbkOracle().DecodeStrictly(narrow))
                    KIV_FUZZ_CHECK(units == *strict, "valid GBK decoded differently from iconv");
                break;
        }

        const std::string back = Expecting("strict conversion", [&] { return marshal_as<std::string>(component); });
        KIV_FUZZ_CHECK(back.size() <= units.size() * page.maxBytesPerUnit, "too many bytes per unit");
        KIV_FUZZ_CHECK(back == ExpectedNarrow(page.family, units), "disagrees with the per-character oracle");
        KIV_FUZZ_CHECK(ValidInCodePage(page.family, back), "the round trip gave text invalid in the code page");
        if (page.family == Family::Latin1) KIV_FUZZ_CHECK(back == narrow, "ISO-8859-1 text did not round-trip");
        const String again = Expecting("second decode", [&] { return marshal_as<String>(back); });
        KIV_FUZZ_CHECK(Units(again) == AfterRoundTrip(page.family, units), "the round trip lost text");
        KIV_FUZZ_CHECK(marshal_as<std::string>(again) == back, "the round trip is not stable");
    }
    return 0;
}
