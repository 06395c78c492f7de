// Fuzzes the list conversion in every code page, on vectors of up to 32 narrow strings of any bytes:
//   never null and nothing raises;
//   created with its final capacity: capacity and count both equal the vector's size;
//   every entry, in order, is the narrow-to-component conversion of its element: never null (empty
//     elements give empty strings), and in UTF-8 the reference decoder's units.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

using kiv::runtime::String;
using zul::marshal::ComponentStringList;
using zul::marshal::marshal_as;
using namespace kiv::fld::fuzz;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<std::string> elements(provider.ConsumeIntegralInRange<std::size_t>(0, 32));
    for (std::string& element : elements) element = provider.ConsumeRandomLengthString(256);
    for (const CodePage& page : kCodePages) {
        const InCodePage scoped(page);
        const ComponentStringList list =
            Expecting("list conversion", [&] { return marshal_as<ComponentStringList>(elements); });
        KIV_FUZZ_CHECK(list, "the list is null");
        KIV_FUZZ_CHECK(static_cast<std::size_t>(list->Count()) == elements.size(), "wrong number of entries");
        KIV_FUZZ_CHECK(static_cast<std::size_t>(list->Capacity()) == elements.size(), "not created at its final size");
        for (std::size_t i = 0; i < elements.size(); ++i) {
            const String& entry = (*list)[static_cast<std::int32_t>(i)];
            KIV_FUZZ_CHECK(!entry.IsNull(), "an entry is null");
            KIV_FUZZ_CHECK(entry == marshal_as<String>(elements[i]), "an entry differs from its element's conversion");
            if (page.family == Family::Utf8)
                KIV_FUZZ_CHECK(Units(entry) == ReferenceUtf8Decode(elements[i]),
                               "an entry disagrees with the reference");
        }
    }
    return 0;
}
