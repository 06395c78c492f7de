// UTF-16 component strings <-> UTF-8, the encoding the sample component libraries speak to files,
// sockets and other programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "kiv/runtime/string.hpp"

namespace kivfld::components {

/// UTF-8 form of `units`; each lone surrogate becomes U+FFFD.
inline std::string ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

/// UTF-8 form of a component string; the null string gives "".
inline std::string ToUtf8(const kiv::runtime::String& text) { return ToUtf8(text.View()); }

/// UTF-16 form of `utf8`; each maximal invalid subsequence becomes one U+FFFD.
inline std::u16string FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        int needed = 0;
        std::uint32_t cp = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the next continuation byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;   // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;   // no overlong forms
            if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        int taken = 0;
        while (taken < needed && next < utf8.size()) {
            const auto unit = static_cast<unsigned char>(utf8[next]);
            if (unit < low || unit > high) break;
            cp = (cp << 6) | (unit & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++next;
            ++taken;
        }
        i = next;
        if (taken < needed) {
            out += u'\xFFFD';
        } else if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

/// Component string holding the UTF-16 form of `utf8` (never null).
inline kiv::runtime::String ToComponentString(std::string_view utf8) {
    if (utf8.empty()) return kiv::runtime::String::Empty();
    return kiv::runtime::String(FromUtf8(utf8));
}

}  // namespace kivfld::components
