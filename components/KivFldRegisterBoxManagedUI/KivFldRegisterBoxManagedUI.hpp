// The register box UI class, KivFldRegisterBoxManagedUI.KivFldRegisterBoxManagedUI.
#pragma once

#include "KivFldCommon/IKivManagedUI.hpp"

namespace KivFldRegisterBoxManagedUI {

/// Implements KivFldCommon::IKivManagedUI.
inline constexpr KivFldCommon::ManagedUIClassName KivFldRegisterBoxManagedUIClass{
    "KivFldRegisterBoxManagedUI", "KivFldRegisterBoxManagedUI.KivFldRegisterBoxManagedUI"};

}  // namespace KivFldRegisterBoxManagedUI
