// What the conversion fuzz targets share: the code pages they check (UTF-8, the C locale, one
// single-byte and one multibyte locale), references written here independently of the bridge (a
// table-driven UTF-8 decoder with the maximal-subparts U+FFFD policy, a UTF-8 encoder, and
// per-character code page oracles on raw iconv), and a check that stops the fuzzer on a violation.
#pragma once

#include <iconv.h>
#include <locale.h>

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/marshal.hpp"
#include "kiv/runtime/errors.hpp"

namespace kiv::fld::fuzz {

/// Stops the run with the input saved when `condition` is false.
#define KIV_FUZZ_CHECK(condition, what)                                                                      \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property violated (%s): %s\n", ::kiv::fld::fuzz::CurrentCodePage(), what); \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

enum class Family { Utf8, Latin1, Gbk };

struct CodePage {
    const char* locale;
    Family family;
    /// Most bytes one UTF-16 unit can become.
    std::size_t maxBytesPerUnit;
};

inline constexpr CodePage kCodePages[] = {
    {"C", Family::Utf8, 3},
    {"en_US.UTF-8", Family::Utf8, 3},
    {"de_DE.ISO-8859-1", Family::Latin1, 1},
    {"zh_CN.GBK", Family::Gbk, 2},
};

inline const char*& CurrentCodePageSlot() {
    static const char* current = "none";
    return current;
}
inline const char* CurrentCodePage() { return CurrentCodePageSlot(); }

/// Makes `page` the calling thread's locale until destruction. The locale objects live for the
/// whole run; a missing locale stops the run at once.
class InCodePage {
public:
    explicit InCodePage(const CodePage& page) {
        // Never destroyed, so the locales stay reachable until the leak check at exit.
        static auto* const locales = new std::map<std::string, locale_t>;
        locale_t& locale = (*locales)[page.locale];
        if (!locale) locale = newlocale(LC_ALL_MASK, page.locale, static_cast<locale_t>(0));
        if (!locale) {
            std::fprintf(stderr, "locale %s is not installed\n", page.locale);
            std::abort();
        }
        m_previous = uselocale(locale);
        CurrentCodePageSlot() = page.locale;
    }
    ~InCodePage() {
        uselocale(m_previous);
        CurrentCodePageSlot() = "none";
    }
    InCodePage(const InCodePage&) = delete;
    InCodePage& operator=(const InCodePage&) = delete;

private:
    locale_t m_previous;
};

// ---- UTF-16 ------------------------------------------------------------------------------------

inline bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

/// The code points of `units`, a lone surrogate standing for itself.
template <class Visit>
void ForEachCodePoint(std::u16string_view units, Visit&& visit) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (IsHigh(units[i]) && i + 1 < units.size() && IsLow(units[i + 1])) {
            visit(0x10000 + ((char32_t(units[i]) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else {
            visit(char32_t(units[i]));
        }
    }
}

inline bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

inline void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
}

/// True when every surrogate is part of a pair.
inline bool WellFormed(std::u16string_view units) {
    bool ok = true;
    ForEachCodePoint(units, [&](char32_t c) { ok = ok && !IsSurrogate(c); });
    return ok;
}

// ---- UTF-8 reference ---------------------------------------------------------------------------

/// Appends the UTF-8 form of the scalar value `c`.
inline void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

/// The well-formed UTF-8 byte sequences (Unicode Table 3-7): lead byte range, length, and the
/// range of the second byte; later bytes are 80..BF.
struct Utf8Row {
    unsigned char leadLow, leadHigh;
    int length;
    unsigned char secondLow, secondHigh;
};
inline constexpr Utf8Row kUtf8Rows[] = {
    {0x00, 0x7F, 1, 0, 0},       {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

/// Decodes `bytes`; every maximal subpart of an ill-formed sequence (the longest prefix of a
/// well-formed sequence, or a single byte that starts none) becomes one U+FFFD.
inline std::u16string ReferenceUtf8Decode(std::string_view bytes) {
    std::u16string out;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Utf8Row* row = nullptr;
        for (const Utf8Row& candidate : kUtf8Rows)
            if (byte(i) >= candidate.leadLow && byte(i) <= candidate.leadHigh) row = &candidate;
        if (!row) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        int matched = 1;
        while (matched < row->length && i + matched < bytes.size()) {
            const unsigned char b = byte(i + matched);
            const unsigned char low = matched == 1 ? row->secondLow : 0x80;
            const unsigned char high = matched == 1 ? row->secondHigh : 0xBF;
            if (b < low || b > high) break;
            ++matched;
        }
        if (matched < row->length) {
            out += u'\uFFFD';
            i += static_cast<std::size_t>(matched);
            continue;
        }
        static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t c = byte(i) & kLeadBits[row->length];
        for (int k = 1; k < row->length; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
        AppendUtf16(out, c);
        i += static_cast<std::size_t>(row->length);
    }
    return out;
}

/// True when `bytes` is well-formed UTF-8 throughout.
inline bool ValidUtf8(std::string_view bytes) {
    const std::u16string decoded = ReferenceUtf8Decode(bytes);
    // Well-formed input never needs U+FFFD for itself; compare against a re-encoding to tell a
    // replacement from a U+FFFD that was in the text.
    std::string again;
    ForEachCodePoint(decoded, [&](char32_t c) { AppendUtf8(again, c); });
    return again == bytes;
}

// ---- per-character code page oracles -----------------------------------------------------------

/// One code point through raw iconv, strictly (no replacement, no transliteration).
class IconvOracle {
public:
    explicit IconvOracle(const char* codeset)
        : m_encoder(iconv_open(codeset, kUtf32)), m_decoder(iconv_open(kUtf32, codeset)) {
        if (m_encoder == kNone || m_decoder == kNone) {
            std::fprintf(stderr, "iconv cannot convert %s\n", codeset);
            std::abort();
        }
    }

    /// The bytes of `c` when the codeset has an exact equivalent (one that decodes back to `c`).
    const std::optional<std::string>& Exact(char32_t c) {
        auto found = m_exact.find(c);
        if (found != m_exact.end()) return found->second;
        std::optional<std::string> bytes;
        if (!IsSurrogate(c)) {
            const std::optional<std::string> encoded = Convert(m_encoder, Utf32(c));
            if (encoded && Convert(m_decoder, *encoded) == Utf32(c)) bytes = encoded;
        }
        return m_exact.emplace(c, std::move(bytes)).first->second;
    }

    /// The text of `bytes` as UTF-16 when every byte is part of a character, else nothing.
    std::optional<std::u16string> DecodeStrictly(std::string_view bytes) {
        const std::optional<std::string> utf32 = Convert(m_decoder, bytes);
        if (!utf32) return std::nullopt;
        std::u16string out;
        for (std::size_t i = 0; i + 4 <= utf32->size(); i += 4) {
            char32_t c = 0;
            for (int k = 3; k >= 0; --k) c = (c << 8) | static_cast<unsigned char>((*utf32)[i + k]);
            AppendUtf16(out, c);
        }
        return out;
    }

private:
    static constexpr const char* kUtf32 = "UTF-32LE";
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

    static std::string Utf32(char32_t c) {
        std::string out(4, '\0');
        for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((c >> (8 * k)) & 0xFF);
        return out;
    }

    static std::optional<std::string> Convert(iconv_t cd, std::string_view in) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
        if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

    iconv_t m_encoder;
    iconv_t m_decoder;
    std::map<char32_t, std::optional<std::string>> m_exact;
};

inline IconvOracle& GbkOracle() {
    static IconvOracle oracle("GBK");
    return oracle;
}

/// The bytes a code page gives `c` when it represents it exactly.
inline std::optional<std::string> ExactBytes(Family family, char32_t c) {
    switch (family) {
        case Family::Utf8: {
            if (IsSurrogate(c)) return std::nullopt;
            std::string bytes;
            AppendUtf8(bytes, c);
            return bytes;
        }
        case Family::Latin1:
            if (c > 0xFF) return std::nullopt;
            return std::string(1, static_cast<char>(c));
        case Family::Gbk:
            return GbkOracle().Exact(c);
    }
    return std::nullopt;
}

/// What the strict conversion must give for `units`: each code point the code page represents
/// exactly as its bytes, every other one (lone surrogates included) as the default character,
/// which is U+FFFD in UTF-8 and '?' elsewhere.
inline std::string ExpectedNarrow(Family family, std::u16string_view units) {
    std::string out;
    ForEachCodePoint(units, [&](char32_t c) {
        if (const auto bytes = ExactBytes(family, c))
            out += *bytes;
        else
            out += family == Family::Utf8 ? "\xEF\xBF\xBD" : "?";
    });
    return out;
}

/// `units` without the code points the code page cannot represent exactly.
inline std::u16string Representable(Family family, std::u16string_view units) {
    std::u16string out;
    ForEachCodePoint(units, [&](char32_t c) {
        if (ExactBytes(family, c)) AppendUtf16(out, c);
    });
    return out;
}

/// Whether `bytes` is text of the code page: well-formed UTF-8; any bytes in ISO-8859-1; in GBK
/// every byte part of a character (raw iconv decodes it without an error).
inline bool ValidInCodePage(Family family, std::string_view bytes) {
    switch (family) {
        case Family::Utf8:
            return ValidUtf8(bytes);
        case Family::Latin1:
            return true;
        case Family::Gbk:
            return GbkOracle().DecodeStrictly(bytes).has_value();
    }
    return false;
}

/// UTF-16 of a component string as a standard string, for comparisons.
inline std::u16string Units(const kiv::runtime::String& s) { return std::u16string(s.View()); }

/// Component text from fuzz bytes: little-endian unit pairs; an odd last byte is dropped.
inline std::u16string UnitsFromBytes(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return units;
}

/// Runs `call`; any error stops the run, naming it.
template <class Call>
auto Expecting(const char* what, Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s raised in %s: %s\n", what, CurrentCodePage(), error.what());
        std::abort();
    }
}

}  // namespace kiv::fld::fuzz
