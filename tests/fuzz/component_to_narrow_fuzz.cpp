// Fuzzes the strict conversion on arbitrary UTF-16 (lone and reversed surrogates included) in
// every code page. An input of one byte stands for the null string:
//   null raises ArgumentNullError "NULLPTR is not supported for this conversion."; nothing else
//     raises;
//   a result within the limits: empty only for empty input, at most 3 bytes per unit in UTF-8, 1 in
//     ISO-8859-1, 2 in GBK;
//   it agrees with the per-character oracle (each code point's exact equivalent, the default
//     character for the rest) and is valid in the code page;
//   the text without the characters the code page lacks round-trips exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"

namespace {

using kiv::runtime::String;
using zul::marshal::marshal_as;
using namespace kiv::fld::fuzz;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 1) {
        const InCodePage scoped(kCodePages[static_cast<std::size_t>(data[0]) % std::size(kCodePages)]);
        try {
            static_cast<void>(marshal_as<std::string>(String()));
            KIV_FUZZ_CHECK(false, "the null string converted");
        } catch (const kiv::runtime::ArgumentNullError& error) {
            KIV_FUZZ_CHECK(std::strcmp(error.what(), "NULLPTR is not supported for this conversion.") == 0,
                           "the null error has another text");
        }
        return 0;
    }
    const std::u16string units = UnitsFromBytes(data, size);
    const String component(units);
    for (const CodePage& page : kCodePages) {
        const InCodePage scoped(page);
        const std::string narrow = Expecting("strict conversion", [&] { return marshal_as<std::string>(component); });
        KIV_FUZZ_CHECK(narrow.empty() == units.empty(), "empty result for non-empty input, or the reverse");
        KIV_FUZZ_CHECK(narrow.size() <= units.size() * page.maxBytesPerUnit, "too many bytes per unit");
        KIV_FUZZ_CHECK(narrow == ExpectedNarrow(page.family, units), "disagrees with the per-character oracle");
        KIV_FUZZ_CHECK(ValidInCodePage(page.family, narrow), "the result is not valid in the code page");

        const std::u16string representable = Representable(page.family, units);
        const std::string encoded =
            Expecting("strict conversion", [&] { return marshal_as<std::string>(String(representable)); });
        const String decoded = Expecting("narrow-to-component", [&] { return marshal_as<String>(encoded); });
        KIV_FUZZ_CHECK(Units(decoded) == representable, "representable text did not round-trip");
    }
    return 0;
}
