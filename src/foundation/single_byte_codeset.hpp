// Codesets of one byte per character (ISO-8859-*, CP125x, KOI8-*, ...), converted through two
// tables instead of iconv: byte to unit, and unit to byte. The tables are built from iconv's own
// decoder at the first use of a codeset in the process and kept for its life, shared by all
// threads; AVX-512 looks them up 32 or 64 characters at a time.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace zul::text {

class SingleByteCodeset {
public:
    /// Whether `codeset` is known to the process: the table, null for a codeset that is not
    /// single-byte, or nothing when nobody has probed it yet. Takes no lock.
    static std::optional<const SingleByteCodeset*> Cached(std::string_view codeset) noexcept;
    /// Probes `codeset` through `decoder` (from the codeset to native UTF-16; its shift state is
    /// reset first and afterwards), remembers the verdict for the process and returns the table,
    /// or null when the codeset is not single-byte: a byte that needs another one, yields no
    /// unit, more than one, or one that depends on what came before. Null without remembering
    /// when memory runs out.
    static const SingleByteCodeset* Probe(std::string_view codeset, iconv_t decoder) noexcept;

    /// The implementation a conversion runs; Best is the fastest this CPU supports.
    enum class Kernel { Scalar, Avx512, Best };

    /// Writes one unit per byte (U+FFFD for a byte the codeset leaves undefined); returns the
    /// units written, or SIZE_MAX when `out` holds fewer than `in.size()`.
    std::size_t ToUtf16(std::span<const char> in, std::span<char16_t> out, Kernel kernel = Kernel::Best) const noexcept;
    /// Bytes that ToNarrow writes: one per unit, one for a whole surrogate pair.
    std::size_t NarrowLength(std::span<const char16_t> in, Kernel kernel = Kernel::Best) const noexcept;
    /// Writes one byte per character; a character the codeset lacks (a pair, a lone surrogate)
    /// becomes the codeset's '?'. Returns the bytes written, or SIZE_MAX when `out` is too small.
    std::size_t ToNarrow(std::span<const char16_t> in, std::span<char> out,
                         Kernel kernel = Kernel::Best) const noexcept;

    /// The unit byte `b` decodes to.
    char16_t Decode(unsigned char b) const noexcept { return m_decode[b]; }

private:
    SingleByteCodeset() = default;
    static bool Avx512() noexcept;

    alignas(64) char16_t m_decode[256];
    // Byte for every unit; the default byte where the codeset has no exact equivalent, which
    // includes all surrogates.
    alignas(64) unsigned char m_encode[65536];
    unsigned char m_defaultByte = '?';
};

}  // namespace zul::text
