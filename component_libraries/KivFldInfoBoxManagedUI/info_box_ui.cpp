// KivFldCommon.KivFldInfoBoxManagedUI: shows its data, plain text, in a frame in the terminal, and
// again whenever UpdateUI replaces the text.
#include <string>
#include <string_view>
#include <vector>

#include "KivFldCommon/ManagedUIClasses.hpp"
#include "common/fields.hpp"
#include "common/fields_view.hpp"
#include "common/hosted_ui.hpp"
#include "common/terminal.hpp"
#include "kiv/runtime/activation.hpp"

namespace kivfld::components {
namespace {

class InfoBoxView final : public UiView {
public:
    static constexpr std::string_view kPrefix = "[info-box]";
    using StartData = std::string;
    using UpdateData = std::string;

    static StartData ParseStart(std::string_view data) { return std::string(data); }
    static UpdateData ParseUpdate(std::string_view data) { return std::string(data); }

    explicit InfoBoxView(StartData text) : m_text(std::move(text)) {}

    void Show(UiContext& context) override {
        Draw(context);
        context.Raise("shown");
    }

    void Update(const UpdateData& text, UiContext& context) {
        m_text = text;
        Draw(context);
        context.Raise("updated");
    }

    void Close(UiContext& context) override {
        context.Print("closed");
        context.Raise("closed");
    }

private:
    void Draw(UiContext& context) const {
        std::vector<std::string> rows;
        for (const std::string_view line : SplitLines(m_text)) {
            for (std::string& row : Wrap(Printable(line, context.Style()), kMaxRowColumns))
                rows.push_back(std::move(row));
        }
        if (rows.empty()) rows.emplace_back();
        context.Print(Framed("Info", rows, context.Style()));
    }

    std::string m_text;
};

class InfoBoxUi final : public TerminalManagedUI<InfoBoxView> {};

const kiv::runtime::ClassRegistration registration{std::string(KivFldCommon::KivFldInfoBoxManagedUIClass.library),
                                                   std::string(KivFldCommon::KivFldInfoBoxManagedUIClass.fullClassName),
                                                   kiv::runtime::ClassRegistration::FactoryOf<InfoBoxUi>()};

}  // namespace
}  // namespace kivfld::components
