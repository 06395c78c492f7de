// The two UI classes that live in the KivFldCommon namespace, each in a library of its own.
#pragma once

#include "KivFldCommon/IKivManagedUI.hpp"

namespace KivFldCommon {

/// The info box UI, KivFldCommon.KivFldInfoBoxManagedUI.
inline constexpr ManagedUIClassName KivFldInfoBoxManagedUIClass{"KivFldInfoBoxManagedUI",
                                                                "KivFldCommon.KivFldInfoBoxManagedUI"};
/// The map-areas UI, KivFldCommon.KivFldMapAreasManagedUI.
inline constexpr ManagedUIClassName KivFldMapAreasManagedUIClass{"KivFldMapAreasManagedUI",
                                                                 "KivFldCommon.KivFldMapAreasManagedUI"};

}  // namespace KivFldCommon
