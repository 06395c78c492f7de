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

#if !defined(__cpp_lib_string_resize_and_overwrite) && defined(__GLIBCXX__) && _GLIBCXX_USE_CXX11_ABI
// libstdc++ before C++23 has no resize_and_overwrite, only the private member with which its own
// resize_and_overwrite ends: set the length and store the terminating zero. An explicit
// instantiation may name a private member; the friend hands it on.
using SetLengthMember = void (std::string::*)(std::string::size_type);
void SetLength(std::string& s, std::size_t n);
template <SetLengthMember Member>
struct LengthAccess {
    friend void SetLength(std::string& s, std::size_t n) { (s.*Member)(n); }
};
template struct LengthAccess<&std::string::_M_set_length>;
#define ZUL_STRING_SET_LENGTH 1
#endif

// Makes `result` exactly `size` bytes long, written by `write(char* storage, size)`, which returns
// the bytes it wrote; the text is kept only when that is `size`, else `result` stays empty.
// Storage is allocated once and not zero-filled first, wherever the standard library allows.
template <class Write>
std::size_t Overwrite(std::string& result, std::size_t size, Write&& write) {
    std::size_t written = 0;
#if defined(__cpp_lib_string_resize_and_overwrite)
    result.resize_and_overwrite(size, [&](char* storage, std::size_t room) {
        written = write(storage, room);
        return written == size ? size : 0;
    });
#elif defined(ZUL_STRING_SET_LENGTH)
    // The steps of libstdc++'s resize_and_overwrite: room for size bytes and a terminating zero.
    result.reserve(size);
    written = write(result.data(), size);
    SetLength(result, written == size ? size : 0);
#else
    result.resize(size);
    written = write(result.data(), size);
    if (written != size) result.clear();
#endif
    return written;
}

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
    const std::size_t written = Overwrite(result, r, [&](char* storage, std::size_t size) {
        return codePage.ToNarrow(units, {storage, size});
    });
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
