// The view of the UIs that show named fields (register box, settings): a frame with a row per
// field; an update sets fields and raises an event for each one it adds or changes.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/fields.hpp"
#include "common/hosted_ui.hpp"
#include "common/terminal.hpp"

namespace kivfld::components {

/// Widest row, in columns, before it is wrapped.
inline constexpr std::size_t kMaxRowColumns = 72;

/// Prints one line per change, the field drawn by `row`, then raises each change's event.
template <class RowOf>
void ShowChanges(const std::vector<FieldChange>& changes, UiContext& context, RowOf&& row) {
    if (changes.empty()) return;
    std::vector<std::string> lines;
    for (const FieldChange& change : changes) {
        const char* what = change.kind == FieldChange::Kind::Added ? "added    " : "changed  ";
        lines.push_back(what + row(Field{change.key, change.value}));
    }
    context.Print(lines);
    for (const FieldChange& change : changes) context.Raise(change.EventText());
}

class FieldsView : public UiView {
public:
    using StartData = std::vector<Field>;
    using UpdateData = std::vector<Field>;
    /// One row for a field whose key and value are printable; `keyColumns` is the widest key.
    using RowFormat = std::string (*)(const Field& field, std::size_t keyColumns, TerminalStyle style);

    static StartData ParseStart(std::string_view data) { return ParseFields(data); }
    static UpdateData ParseUpdate(std::string_view data) { return ParseFields(data); }

    FieldsView(std::string title, RowFormat format, const StartData& fields)
        : m_title(std::move(title)), m_format(format), m_fields(fields) {}

    void Show(UiContext& context) override {
        std::vector<std::string> rows;
        const std::size_t keyColumns = KeyColumns(context.Style());
        for (const Field& field : m_fields.Fields()) {
            for (std::string& row : Wrap(Row(field, keyColumns, context.Style()), kMaxRowColumns))
                rows.push_back(std::move(row));
        }
        if (rows.empty()) rows.emplace_back("(no fields)");
        context.Print(Framed(m_title, rows, context.Style()));
        context.Raise("shown");
    }

    void Update(const UpdateData& update, UiContext& context) {
        ShowChanges(m_fields.Apply(update), context,
                    [&](const Field& field) { return Row(field, 0, context.Style()); });
    }

    void Close(UiContext& context) override {
        context.Print("closed");
        context.Raise("closed");
    }

private:
    std::size_t KeyColumns(TerminalStyle style) const {
        std::size_t columns = 0;
        for (const Field& field : m_fields.Fields()) columns = std::max(columns, Columns(Printable(field.key, style)));
        return columns;
    }

    std::string Row(const Field& field, std::size_t keyColumns, TerminalStyle style) const {
        return m_format({Printable(field.key, style), Printable(field.value, style)}, keyColumns, style);
    }

    std::string m_title;
    RowFormat m_format;
    FieldSet m_fields;
};

}  // namespace kivfld::components
