// Small helpers for writing expectations about component text.
#pragma once

#include <string>

#include "kiv/runtime/string.hpp"

namespace kiv::fld::testing {

/// UTF-16 text of a component string, for readable comparisons.
inline std::u16string Units(const kiv::runtime::String& s) { return std::u16string(s.View()); }

}  // namespace kiv::fld::testing
