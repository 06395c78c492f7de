// KivFldRegisterBoxManagedUI.KivFldRegisterBoxManagedUI: a form of key=value fields, labels
// aligned, in a frame in the terminal; UpdateUI sets fields and raises an event for each change.
#include <string>
#include <string_view>

#include "KivFldRegisterBoxManagedUI/KivFldRegisterBoxManagedUI.hpp"
#include "common/fields_view.hpp"
#include "common/hosted_ui.hpp"
#include "common/terminal.hpp"
#include "kiv/runtime/activation.hpp"

namespace kivfld::components {
namespace {

std::string FormRow(const Field& field, std::size_t keyColumns, TerminalStyle) {
    const std::size_t columns = Columns(field.key);
    return field.key + ":" + std::string(keyColumns > columns ? keyColumns - columns : 0, ' ') + " " + field.value;
}

class RegisterBoxView final : public FieldsView {
public:
    static constexpr std::string_view kPrefix = "[register-box]";

    explicit RegisterBoxView(const StartData& fields) : FieldsView("Register", &FormRow, fields) {}
};

class RegisterBoxUi final : public TerminalManagedUI<RegisterBoxView> {};

const kiv::runtime::ClassRegistration registration{
    std::string(KivFldRegisterBoxManagedUI::KivFldRegisterBoxManagedUIClass.library),
    std::string(KivFldRegisterBoxManagedUI::KivFldRegisterBoxManagedUIClass.fullClassName),
    kiv::runtime::ClassRegistration::FactoryOf<RegisterBoxUi>()};

}  // namespace
}  // namespace kivfld::components
