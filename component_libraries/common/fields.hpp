// The key=value data of the sample UI libraries: parsing it, and the ordered fields a UI shows
// with the changes an update makes to them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kiv/runtime/errors.hpp"

namespace kivfld::components {

/// One named value.
struct Field {
    std::string key;
    std::string value;

    friend bool operator==(const Field&, const Field&) = default;
};

/// Lines of UTF-8 text, split at LF with one CR before it dropped; a final line break gives no
/// empty last line.
inline std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

/// `text` without the spaces and tabs around it.
inline std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

/// The fields of `text`: one `key=value` per line, the key up to the first `=`, blanks around key
/// and value dropped; empty lines and lines starting with `#` are skipped. Raises ArgumentError
/// naming the line for a line without `=`, an empty key, or a key holding a control character.
inline std::vector<Field> ParseFields(std::string_view text) {
    std::vector<Field> fields;
    std::size_t number = 0;
    for (const std::string_view line : SplitLines(text)) {
        ++number;
        const std::string_view content = TrimBlanks(line);
        if (content.empty() || content.front() == '#') continue;
        const std::size_t equals = content.find('=');
        const std::string where = "Line " + std::to_string(number) + " of the data";
        if (equals == std::string_view::npos)
            throw kiv::runtime::ArgumentError(where + " is not of the form key=value.");
        const std::string_view key = TrimBlanks(content.substr(0, equals));
        if (key.empty()) throw kiv::runtime::ArgumentError(where + " has an empty key.");
        for (const char c : key) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                throw kiv::runtime::ArgumentError(where + " has a control character in its key.");
        }
        fields.push_back({std::string(key), std::string(TrimBlanks(content.substr(equals + 1)))});
    }
    return fields;
}

/// What an update did to one field.
struct FieldChange {
    enum class Kind { Added, Changed };
    Kind kind;
    std::string key;
    std::string value;

    /// The event text: "added:key=value" or "changed:key=value".
    std::string EventText() const { return (kind == Kind::Added ? "added:" : "changed:") + key + "=" + value; }

    friend bool operator==(const FieldChange&, const FieldChange&) = default;
};

/// Fields in the order they first appeared; each key once.
class FieldSet {
public:
    FieldSet() = default;
    explicit FieldSet(const std::vector<Field>& fields) { Apply(fields); }

    /// Sets each field in turn, adding keys not seen before at the end; returns the fields that
    /// were added or got another value, in that order. A value set to what it is changes nothing.
    std::vector<FieldChange> Apply(const std::vector<Field>& updates) {
        std::vector<FieldChange> changes;
        for (const Field& update : updates) {
            Field* existing = FindField(update.key);
            if (!existing) {
                m_fields.push_back(update);
                changes.push_back({FieldChange::Kind::Added, update.key, update.value});
            } else if (existing->value != update.value) {
                existing->value = update.value;
                changes.push_back({FieldChange::Kind::Changed, update.key, update.value});
            }
        }
        return changes;
    }

    const std::vector<Field>& Fields() const noexcept { return m_fields; }

    /// The value of `key`, or null when there is no such field.
    const std::string* Find(std::string_view key) const {
        for (const Field& field : m_fields) {
            if (field.key == key) return &field.value;
        }
        return nullptr;
    }

private:
    Field* FindField(std::string_view key) {
        for (Field& field : m_fields) {
            if (field.key == key) return &field;
        }
        return nullptr;
    }

    std::vector<Field> m_fields;
};

}  // namespace kivfld::components
