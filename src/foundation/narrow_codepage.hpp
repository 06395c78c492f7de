// The calling thread's narrow code page (the codeset of its current locale) and conversion
// between it and UTF-16: our own kernels for UTF-8, tables for single-byte codesets, glibc iconv
// for every other codeset.
//
// Converters are opened once per thread and codeset and kept until the thread ends, so a
// conversion never pays for iconv_open. Single-byte tables are built once per process (see
// single_byte_codeset.hpp); nothing else is shared between threads.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zul::text {

class SingleByteCodeset;

enum class CodesetKind {
    Utf8,   ///< Converted by the UTF-8 kernels (text_utf8.hpp).
    Iconv,  ///< Converted by glibc iconv, without transliteration.
};

/// How text in `codeset` (as nl_langinfo(CODESET) names it) is converted. The C locale's
/// "ANSI_X3.4-1968" counts as UTF-8: ASCII is a subset, and bytes above it are better read as
/// UTF-8 than rejected.
CodesetKind ClassifyCodeset(std::string_view codeset) noexcept;

/// Returned by the conversions when the destination is too small.
inline constexpr std::size_t kNoFit = SIZE_MAX;

/// One codeset as one thread sees it, with that thread's converters for it.
///
/// Undecodable input becomes U+FFFD: in UTF-8 one per maximal invalid subsequence; elsewhere one
/// per byte that cannot start a character, and one for a character cut off by the end of the
/// input. A character the codeset lacks (lone surrogates included) becomes the codeset's default
/// character: '?' for iconv codesets, U+FFFD for UTF-8. The conversions return 0 for non-empty
/// input only when the codeset cannot be converted at all.
class NarrowCodePage {
public:
    /// The code page of the calling thread's current locale, looked up now. The reference is
    /// valid until the calling thread asks again. Raises OutOfMemoryError when a converter cannot
    /// be opened for lack of memory (only on the first use of a codeset).
    static NarrowCodePage& ForCallingThread();

    NarrowCodePage() noexcept = default;
    ~NarrowCodePage();
    NarrowCodePage(const NarrowCodePage&) = delete;
    NarrowCodePage& operator=(const NarrowCodePage&) = delete;

    std::string_view Codeset() const noexcept { return m_codeset; }
    CodesetKind Kind() const noexcept { return m_kind; }

    /// UTF-16 units that ToUtf16 writes for `narrow`.
    std::size_t Utf16Length(std::span<const char> narrow);
    /// Returns the units written, or kNoFit when `out` is too small.
    std::size_t ToUtf16(std::span<const char> narrow, std::span<char16_t> out);

    /// Bytes that ToNarrow writes for `units`.
    std::size_t NarrowLength(std::span<const char16_t> units);
    /// Returns the bytes written, or kNoFit when `out` is too small.
    std::size_t ToNarrow(std::span<const char16_t> units, std::span<char> out);

private:
    friend struct ThreadCodePages;
    static constexpr std::size_t kMaxCodesetLength = 63;

    /// Rebinds this slot to `codeset`, closing converters of the previous one.
    void Assign(std::string_view codeset) noexcept;
    void Close() noexcept;
    iconv_t Decoder();
    iconv_t Encoder();
    /// The codeset's tables when it is single-byte, probing it (with Decoder()) on first use.
    const SingleByteCodeset* SingleByte();
    /// Whether ASCII decodes (encodes) to itself, whatever ASCII surrounds it, so that an ASCII
    /// prefix can skip iconv; probed with the converter on first use.
    bool AsciiDecodesToItself();
    bool AsciiEncodesToItself();

    char m_codeset[kMaxCodesetLength + 1] = {};
    CodesetKind m_kind = CodesetKind::Utf8;
    bool m_unusable = false;  // name too long to keep: nothing can be converted
    iconv_t m_decoder = reinterpret_cast<iconv_t>(-1);
    iconv_t m_encoder = reinterpret_cast<iconv_t>(-1);
    bool m_decoderUnavailable = false;
    bool m_encoderUnavailable = false;
    // Known to be in their initial shift state (the last conversion flushed), so that the next
    // conversion need not reset them: a reset costs as much as converting a short string.
    bool m_decoderInitial = false;
    bool m_encoderInitial = false;
    enum class Probed : std::uint8_t { Unknown, Yes, No };
    Probed m_asciiDecodes = Probed::Unknown;
    Probed m_asciiEncodes = Probed::Unknown;
    const SingleByteCodeset* m_singleByte = nullptr;
    bool m_singleByteKnown = false;
    char m_defaultChar[16] = {};
    std::size_t m_defaultCharLength = 0;
    std::uint64_t m_lastUse = 0;
};

namespace testing {

/// Makes the calling thread see `codeset` instead of its locale's codeset until destruction, to
/// reach codesets that no installed locale uses. Not nestable.
class ScopedCodesetOverride {
public:
    explicit ScopedCodesetOverride(const char* codeset) noexcept;
    ~ScopedCodesetOverride();
    ScopedCodesetOverride(const ScopedCodesetOverride&) = delete;
    ScopedCodesetOverride& operator=(const ScopedCodesetOverride&) = delete;
};

/// iconv descriptors the calling thread has opened so far.
std::uint64_t ThreadConverterOpenCount() noexcept;

}  // namespace testing

}  // namespace zul::text
