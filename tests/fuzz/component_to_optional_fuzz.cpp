// Fuzzes the optional conversion in every code page. An input of one byte stands for the null
// string:
//   null gives an absent value and raises nothing;
//   any other text, the empty one included, gives a present value equal to the strict conversion's
//     result, which agrees with the per-character oracle;
//   nothing raises.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.hpp"

namespace {

using kiv::runtime::String;
using zul::marshal::marshal_as;
using namespace kiv::fld::fuzz;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool null = size == 1;
    const std::u16string units = UnitsFromBytes(data, size);
    const String component = null ? String() : String(units);
    for (const CodePage& page : kCodePages) {
        const InCodePage scoped(page);
        const auto optional =
            Expecting("optional conversion", [&] { return marshal_as<std::optional<std::string>>(component); });
        if (null) {
            KIV_FUZZ_CHECK(!optional.has_value(), "the null string gave a value");
            continue;
        }
        KIV_FUZZ_CHECK(optional.has_value(), "a non-null string gave no value");
        KIV_FUZZ_CHECK(*optional == Expecting("strict conversion", [&] { return marshal_as<std::string>(component); }),
                       "differs from the strict conversion");
        KIV_FUZZ_CHECK(*optional == ExpectedNarrow(page.family, units), "disagrees with the per-character oracle");
    }
    return 0;
}
