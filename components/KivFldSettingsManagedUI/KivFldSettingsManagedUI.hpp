// The settings UI class, KivFldSettingsManagedUI.KivFldSettingsManagedUI.
#pragma once

#include "KivFldCommon/IKivManagedUI.hpp"

namespace KivFldSettingsManagedUI {

/// Implements KivFldCommon::IKivManagedUI.
inline constexpr KivFldCommon::ManagedUIClassName KivFldSettingsManagedUIClass{
    "KivFldSettingsManagedUI", "KivFldSettingsManagedUI.KivFldSettingsManagedUI"};

}  // namespace KivFldSettingsManagedUI
