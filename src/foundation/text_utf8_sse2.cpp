// The SSE2 UTF-8 kernel, for x86-64 CPUs without AVX2: ASCII runs 16 bytes (8 units) at a time,
// every other character through the scalar steps. Without a byte shuffle, SSE2 cannot validate
// or pack multibyte text faster than the scalar code does.
#include "foundation/text_utf8.hpp"
#include "foundation/text_utf8_kernels.hpp"

#if defined(__x86_64__)

#include <emmintrin.h>

namespace zul::text::utf8::detail::sse2 {
namespace {

template <bool Write>
std::size_t Decode(const unsigned char* in, std::size_t n, char16_t* out, std::size_t capacity) {
    std::size_t i = 0;
    std::size_t o = 0;
    const __m128i zero = _mm_setzero_si128();
    while (i < n) {
        while (n - i >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const unsigned nonAscii = static_cast<unsigned>(_mm_movemask_epi8(v));
            // The ASCII bytes before the first other one; all 16 when there is none.
            const std::size_t ascii = nonAscii == 0 ? 16 : static_cast<std::size_t>(__builtin_ctz(nonAscii));
            if constexpr (Write) {
                if (capacity - o >= 16) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_unpacklo_epi8(v, zero));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 8), _mm_unpackhi_epi8(v, zero));
                } else {
                    if (capacity - o < ascii) return kNoFit;
                    for (std::size_t k = 0; k < ascii; ++k) out[o + k] = in[i + k];
                }
            }
            i += ascii;
            o += ascii;
            if (ascii != 16) break;
        }
        // Characters one by one until the next ASCII byte, which may start a run again.
        while (i < n && in[i] >= 0x80)
            if (!DecodeCharactersUntil<Write>(in, n, i, i + 1, out, capacity, o)) return kNoFit;
        if (i < n && n - i < 16) {
            if constexpr (Write) {
                if (o == capacity) return kNoFit;
                out[o] = in[i];
            }
            ++i;
            ++o;
        }
    }
    return o;
}

std::size_t Encode(const char16_t* in, std::size_t n, unsigned char* out, std::size_t capacity) {
    std::size_t i = 0;
    std::size_t o = 0;
    const __m128i nonAsciiBits = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (i < n) {
        while (n - i >= 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const unsigned asciiUnits = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, nonAsciiBits), _mm_setzero_si128())));
            const std::size_t ascii =
                asciiUnits == 0xFFFF ? 8 : static_cast<std::size_t>(__builtin_ctz(~asciiUnits)) / 2;
            if (capacity - o >= 8) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(v, v));
            } else {
                if (capacity - o < ascii) return kNoFit;
                for (std::size_t k = 0; k < ascii; ++k) out[o + k] = static_cast<unsigned char>(in[i + k]);
            }
            i += ascii;
            o += ascii;
            if (ascii != 8) break;
        }
        while (i < n && in[i] >= 0x80)
            if (!EncodeCharactersUntil(in, n, i, i + 1, out, capacity, o)) return kNoFit;
        if (i < n && n - i < 8) {
            if (o == capacity) return kNoFit;
            out[o++] = static_cast<unsigned char>(in[i++]);
        }
    }
    return o;
}

}  // namespace

std::size_t Utf16Length(std::span<const char> in) noexcept {
    return Decode<false>(reinterpret_cast<const unsigned char*>(in.data()), in.size(), nullptr, 0);
}

std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept {
    return Decode<true>(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data(), out.size());
}

// The reference count is branch-free and compiles to SSE2 vector code as it stands.
std::size_t Utf8Length(std::span<const char16_t> in) noexcept { return scalar::Utf8Length(in); }

std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept {
    return Encode(in.data(), in.size(), reinterpret_cast<unsigned char*>(out.data()), out.size());
}

}  // namespace zul::text::utf8::detail::sse2

#else  // no x86-64: never selected, kept so that the kernel table links

ZUL_UTF8_KERNEL_AS_SCALAR(sse2)

#endif
