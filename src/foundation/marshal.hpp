// zul::marshal: the four conversions between host text (narrow strings in the calling thread's
// code page) and component text (UTF-16 component strings and string lists).
//
// They keep no state, catch nothing and raise component errors: ArgumentNullError for a null
// string where none is accepted, ArgumentError when the code page converter fails,
// ArgumentOutOfRangeError beyond 2147483647 bytes or units, OutOfMemoryError when the runtime
// cannot allocate.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "kiv/runtime/list.hpp"
#include "kiv/runtime/string.hpp"

namespace zul::marshal {

using ComponentString = kiv::runtime::String;
using ComponentStringList = kiv::runtime::Ref<kiv::runtime::List<kiv::runtime::String>>;

template <class To, class From>
struct marshal_traits {
    static_assert(!std::is_same_v<To, To>,
                  "zul::marshal has no conversion between these types; the supported pairs are "
                  "std::string -> String, String -> std::string, String -> std::optional<std::string> "
                  "and std::vector<std::string> -> string list");
};

/// Converts `from` to `To`; the caller names only `To`.
template <class To, class From>
To marshal_as(const From& from) {
    return marshal_traits<To, From>::marshal(from);
}

/// Narrow-to-component: never null; an empty string gives an empty component string.
template <>
struct marshal_traits<ComponentString, std::string> {
    static ComponentString marshal(const std::string& from);
};

/// Strict: a null component string raises "NULLPTR is not supported for this conversion.".
template <>
struct marshal_traits<std::string, ComponentString> {
    static std::string marshal(const ComponentString& from);
};

/// Optional: a null component string gives an absent value.
template <>
struct marshal_traits<std::optional<std::string>, ComponentString> {
    static std::optional<std::string> marshal(const ComponentString& from);
};

/// List: one entry per element, same order, created with the final capacity; never null.
template <>
struct marshal_traits<ComponentStringList, std::vector<std::string>> {
    static ComponentStringList marshal(const std::vector<std::string>& from);
};

}  // namespace zul::marshal
