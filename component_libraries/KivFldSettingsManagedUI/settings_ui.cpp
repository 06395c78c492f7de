// KivFldSettingsManagedUI.KivFldSettingsManagedUI: a list of key=value settings in a frame in the
// terminal, switches (true/false, yes/no, on/off) drawn as check boxes; UpdateUI sets settings and
// raises an event for each change.
#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>

#include "KivFldSettingsManagedUI/KivFldSettingsManagedUI.hpp"
#include "common/fields_view.hpp"
#include "common/hosted_ui.hpp"
#include "common/terminal.hpp"
#include "kiv/runtime/activation.hpp"

namespace kivfld::components {
namespace {

// Whether `value` is a switch, and which way it is set.
std::optional<bool> Switch(std::string_view value) {
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    constexpr std::array<std::string_view, 3> on{"true", "yes", "on"};
    constexpr std::array<std::string_view, 3> off{"false", "no", "off"};
    if (std::find(on.begin(), on.end(), lower) != on.end()) return true;
    if (std::find(off.begin(), off.end(), lower) != off.end()) return false;
    return std::nullopt;
}

std::string SettingRow(const Field& field, std::size_t, TerminalStyle) {
    if (const std::optional<bool> set = Switch(field.value))
        return (*set ? "[x] " : "[ ] ") + field.key + " (" + field.value + ")";
    return "    " + field.key + " = " + field.value;
}

class SettingsView final : public FieldsView {
public:
    static constexpr std::string_view kPrefix = "[settings]";

    explicit SettingsView(const StartData& fields) : FieldsView("Settings", &SettingRow, fields) {}
};

class SettingsUi final : public TerminalManagedUI<SettingsView> {};

const kiv::runtime::ClassRegistration registration{
    std::string(KivFldSettingsManagedUI::KivFldSettingsManagedUIClass.library),
    std::string(KivFldSettingsManagedUI::KivFldSettingsManagedUIClass.fullClassName),
    kiv::runtime::ClassRegistration::FactoryOf<SettingsUi>()};

}  // namespace
}  // namespace kivfld::components
