// The four zul::marshal text conversions: size once, check the limits, convert in place.
#include "foundation/marshal.hpp"

#include <cstdint>
#include <span>
#include <utility>

#include "foundation/narrow_codepage.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/object.hpp"

namespace zul::marshal {
namespace {

using kiv::runtime::ArgumentError;
using kiv::runtime::ArgumentNullError;
using kiv::runtime::ArgumentOutOfRangeError;
using zul::text::NarrowCodePage;

constexpr std::size_t kMaxSize = 2147483647;

constexpr const char* kSizeExceedsIntMax = "Size of string exceeds INT_MAX.";
constexpr const char* kNarrowToWideFailed =
    "Conversion from MultiByte to WideChar failed.  Please check the content of the string and/or locale settings.";
constexpr const char* kWideToNarrowFailed =
    "Conversion from WideChar to MultiByte failed.  Please check the content of the string and/or locale settings.";
constexpr const char* kNullNotSupported = "NULLPTR is not supported for this conversion.";
constexpr const char* kTooManyStrings = "Number of strings exceeds INT_MAX.";

}  // namespace

ComponentString marshal_traits<ComponentString, std::string>::marshal(const std::string& from) {
    const std::size_t n = from.size();
    if (n > kMaxSize) throw ArgumentOutOfRangeError(kSizeExceedsIntMax);
    if (n == 0) return ComponentString::Empty();
    NarrowCodePage& codePage = NarrowCodePage::ForCallingThread();
    const std::span<const char> bytes(from.data(), n);
    const std::size_t m = codePage.Utf16Length(bytes);
    if (m == 0) throw ArgumentError(kNarrowToWideFailed);
    if (m >= kMaxSize) throw ArgumentOutOfRangeError(kSizeExceedsIntMax);
    return ComponentString::Create(static_cast<std::int32_t>(m), [&](char16_t* storage) {
        if (codePage.ToUtf16(bytes, {storage, m}) != m) throw ArgumentError(kNarrowToWideFailed);
    });
}

std::string marshal_traits<std::string, ComponentString>::marshal(const ComponentString& from) {
    if (from.IsNull()) throw ArgumentNullError(kNullNotSupported);
    const std::span<const char16_t> units(from.Data(), static_cast<std::size_t>(from.Length()));
    if (units.empty()) return {};
    NarrowCodePage& codePage = NarrowCodePage::ForCallingThread();
    const std::size_t r = codePage.NarrowLength(units);
    if (r == 0) throw ArgumentError(kWideToNarrowFailed);
    if (r >= kMaxSize) throw ArgumentOutOfRangeError(kSizeExceedsIntMax);
    std::string result;
    std::size_t written = 0;
#if defined(__cpp_lib_string_resize_and_overwrite)
    result.resize_and_overwrite(r, [&](char* storage, std::size_t size) {
        written = codePage.ToNarrow(units, {storage, size});
        return written == r ? r : 0;
    });
#else
    result.resize(r);
    written = codePage.ToNarrow(units, {result.data(), r});
#endif
    if (written != r) throw ArgumentError(kWideToNarrowFailed);
    return result;
}

std::optional<std::string> marshal_traits<std::optional<std::string>, ComponentString>::marshal(
    const ComponentString& from) {
    if (from.IsNull()) return std::nullopt;
    return marshal_traits<std::string, ComponentString>::marshal(from);
}

ComponentStringList marshal_traits<ComponentStringList, std::vector<std::string>>::marshal(
    const std::vector<std::string>& from) {
    if (from.size() > static_cast<std::size_t>(INT32_MAX)) throw ArgumentOutOfRangeError(kTooManyStrings);
    auto list = kiv::runtime::New<kiv::runtime::List<ComponentString>>(static_cast<std::int32_t>(from.size()));
    for (const std::string& item : from) list->Add(marshal_traits<ComponentString, std::string>::marshal(item));
    return list;
}

}  // namespace zul::marshal
