// Terminal output of the sample UI libraries: text made safe to print, frames drawn around it, and
// blocks written to standard output in one piece so that UIs running at once do not interleave.
#pragma once

#include <langinfo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf16.hpp"

namespace kivfld::components {

/// How output is drawn: box-drawing characters and any text, or plain ASCII.
enum class TerminalStyle { Ascii, Unicode };

/// The style that suits the calling thread's locale: Unicode when its codeset is UTF-8, else ASCII
/// (the UIs write UTF-8, which any other codeset would garble).
inline TerminalStyle CurrentTerminalStyle() {
    const std::string_view codeset = nl_langinfo(CODESET);
    return codeset == "UTF-8" || codeset == "utf8" ? TerminalStyle::Unicode : TerminalStyle::Ascii;
}

namespace terminal_detail {

// Characters that would act on the terminal instead of being shown: C0 and C1 controls (escape
// sequences among them), DEL, line and paragraph separators, and the bidirectional overrides that
// can make a line read differently from what it holds.
inline bool ActsOnTerminal(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// Columns a code point takes in a terminal: 0 for combining marks and zero-width characters, 2 for
// East Asian wide and full-width characters and emoji, 1 otherwise. An approximation of wcwidth
// that does not depend on the locale.
inline int CodePointColumns(std::uint32_t cp) {
    if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F) || cp == 0xFEFF ||
        (cp >= 0xFE00 && cp <= 0xFE0F))
        return 0;
    if ((cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
        (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
        (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
        (cp >= 0x1F900 && cp <= 0x1F9FF) || (cp >= 0x20000 && cp <= 0x3FFFD))
        return 2;
    return 1;
}

// Calls `visit(codePoint, utf8Bytes)` for each code point of valid UTF-8 text.
template <class Visit>
void ForEachCodePoint(std::string_view utf8, Visit&& visit) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t cp = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        visit(cp, utf8.substr(i, length));
        i += length;
    }
}

}  // namespace terminal_detail

/// `text` (UTF-8, possibly invalid) as one line that is safe to print: invalid bytes and every
/// character that would act on the terminal become U+FFFD, tabs become a space. In ASCII style
/// every character outside ASCII becomes '?'.
inline std::string Printable(std::string_view text, TerminalStyle style) {
    // The round trip through UTF-16 replaces invalid UTF-8 with U+FFFD.
    const std::string valid = ToUtf8(FromUtf8(text));
    std::string out;
    out.reserve(valid.size());
    terminal_detail::ForEachCodePoint(valid, [&](std::uint32_t cp, std::string_view bytes) {
        if (cp == '\t') {
            out += ' ';
        } else if (style == TerminalStyle::Ascii && (cp >= 0x80 || terminal_detail::ActsOnTerminal(cp))) {
            out += '?';
        } else if (terminal_detail::ActsOnTerminal(cp)) {
            out += "\xEF\xBF\xBD";
        } else {
            out += bytes;
        }
    });
    return out;
}

/// Terminal columns that printable text takes.
inline std::size_t Columns(std::string_view printable) {
    std::size_t columns = 0;
    terminal_detail::ForEachCodePoint(printable, [&](std::uint32_t cp, std::string_view) {
        columns += static_cast<std::size_t>(terminal_detail::CodePointColumns(cp));
    });
    return columns;
}

/// Printable text cut into lines of at most `width` columns (at least 1), at the last space that
/// keeps a piece within the width, else between characters. Empty text gives one empty line.
inline std::vector<std::string> Wrap(std::string_view printable, std::size_t width) {
    width = std::max<std::size_t>(width, 1);
    std::vector<std::string> lines;
    std::string line;
    std::size_t lineColumns = 0;
    std::size_t lastSpace = std::string::npos;  // byte offset in `line` just after the last space
    std::size_t columnsAtSpace = 0;
    terminal_detail::ForEachCodePoint(printable, [&](std::uint32_t cp, std::string_view bytes) {
        const auto columns = static_cast<std::size_t>(terminal_detail::CodePointColumns(cp));
        if (lineColumns + columns > width && lineColumns > 0) {
            if (lastSpace != std::string::npos) {
                lines.push_back(line.substr(0, lastSpace - 1));
                line.erase(0, lastSpace);
                lineColumns -= columnsAtSpace;
            } else {
                lines.push_back(line);
                line.clear();
                lineColumns = 0;
            }
            lastSpace = std::string::npos;
        }
        line += bytes;
        lineColumns += columns;
        if (cp == ' ') {
            lastSpace = line.size();
            columnsAtSpace = lineColumns;
        }
    });
    lines.push_back(line);
    return lines;
}

/// `lines` (printable, each at most `maxWidth` columns) in a frame whose top border carries
/// `title`. The frame is as wide as the widest line or the title needs.
inline std::vector<std::string> Framed(std::string_view title, const std::vector<std::string>& lines,
                                       TerminalStyle style) {
    const bool unicode = style == TerminalStyle::Unicode;
    const std::string horizontal = unicode ? "\xE2\x94\x80" : "-";
    const std::string vertical = unicode ? "\xE2\x94\x82" : "|";
    std::size_t inner = title.empty() ? 0 : Columns(title) + 2;
    for (const std::string& line : lines) inner = std::max(inner, Columns(line));
    auto repeat = [](const std::string& piece, std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) out += piece;
        return out;
    };
    std::vector<std::string> framed;
    std::string top = unicode ? "\xE2\x94\x8C" : "+";
    top += horizontal;
    if (!title.empty()) top += " " + std::string(title) + " ";
    top += repeat(horizontal, inner + 1 - (title.empty() ? 0 : Columns(title) + 2));
    top += unicode ? "\xE2\x94\x90" : "+";
    framed.push_back(top);
    for (const std::string& line : lines)
        framed.push_back(vertical + " " + line + std::string(inner - Columns(line), ' ') + " " + vertical);
    framed.push_back((unicode ? "\xE2\x94\x94" : "+") + repeat(horizontal, inner + 2) +
                     (unicode ? "\xE2\x94\x98" : "+"));
    return framed;
}

/// Writes each of `lines` after `prefix` and a space to standard output, all in one write, and
/// flushes, so that blocks from several threads never mix.
inline void WriteLines(std::string_view prefix, const std::vector<std::string>& lines) {
    std::string block;
    for (const std::string& line : lines) {
        block += prefix;
        block += ' ';
        block += line;
        block += '\n';
    }
    std::fwrite(block.data(), 1, block.size(), stdout);
    std::fflush(stdout);
}

}  // namespace kivfld::components
