// Benchmark inputs: four kinds of text in the code pages the bridge meets, cut to exact sizes,
// with their UTF-16 form; and the calling-thread locale switch the conversions read.
#pragma once

#include <locale.h>

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/narrow_codepage.hpp"

namespace kivfld::bench {

enum class Corpus { Ascii, Latin, Cjk, Emoji };

/// Short name used in benchmark names ("ascii", "latin", "cjk", "emoji").
const char* CorpusName(Corpus corpus);

/// A code page as the bridge meets it: through the calling thread's locale, or, when no locale
/// uses it, through the codeset override of the code page layer.
struct CodePage {
    const char* label;    ///< used in benchmark names
    const char* codeset;  ///< iconv name, as nl_langinfo(CODESET) reports it
    const char* locale;   ///< installed locale with this codeset, or null
};

/// One text in one code page: the narrow bytes and the same text in UTF-16.
struct Sample {
    std::string narrow;
    std::u16string units;
    double nonAsciiShare = 0;  ///< share of characters outside ASCII
};

/// The first characters of `corpus` that fit in `narrowBytes` bytes of `codePage` (encoded by
/// iconv, character by character). Absent when the corpus has characters the code page lacks.
std::optional<Sample> MakeSample(Corpus corpus, const CodePage& codePage, std::size_t narrowBytes);

/// Makes `codePage` the calling thread's code page until destruction.
class ScopedCodePage {
public:
    explicit ScopedCodePage(const CodePage& codePage);
    ~ScopedCodePage();
    ScopedCodePage(const ScopedCodePage&) = delete;
    ScopedCodePage& operator=(const ScopedCodePage&) = delete;

    /// False when the locale is not installed.
    bool Active() const { return m_active; }

private:
    bool m_active = false;
    locale_t m_locale = static_cast<locale_t>(0);
    locale_t m_previous = static_cast<locale_t>(0);
    std::optional<zul::text::testing::ScopedCodesetOverride> m_override;
};

}  // namespace kivfld::bench
