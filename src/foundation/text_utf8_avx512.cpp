// The AVX-512 UTF-8 kernel: 64-byte blocks (32 units when encoding), masked loads and stores for
// the last block, so short strings need no scalar tail.
//
// Decoding proves each block valid on its own (Keiser and Lemire's three-table check, with the
// block starting where a character starts), computes at every byte the unit it would yield as the
// first byte of a character (and, after a four-byte lead, the low surrogate), and compresses the
// units of the character starts. A character cut off by the end of the block is left to the next
// block; a block with any error goes to the scalar steps, which resynchronize exactly as the
// reference does. Encoding turns each unit into up to four bytes in a 32-bit lane and compresses
// the bytes that exist.
#include "foundation/text_utf8.hpp"
#include "foundation/text_utf8_kernels.hpp"
#include "foundation/text_utf8_validation.hpp"

#if defined(__x86_64__)

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 reports its own AVX-512 headers (the deliberately undefined vectors of the _undefined_
// intrinsics) as maybe-uninitialized once they are inlined here.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define ZUL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

namespace zul::text::utf8::detail::avx512 {
namespace {

using namespace validation;

// A constant that GCC must keep in a register: it would otherwise rebuild every constant in
// every pass of a loop (a move and a broadcast, on the port the shuffles need). The empty asm
// hides the value; being pure, it is still hoisted out of loops.
ZUL_AVX512 inline __m512i Kept(__m512i value) {
    asm("" : "+v"(value));
    return value;
}
ZUL_AVX512 inline __m512i Splat8(int value) { return Kept(_mm512_set1_epi8(static_cast<char>(value))); }
ZUL_AVX512 inline __m512i Splat16(int value) { return Kept(_mm512_set1_epi16(static_cast<short>(value))); }
ZUL_AVX512 inline __m512i Splat32(int value) { return Kept(_mm512_set1_epi32(value)); }

// Byte j of the result is byte j - k of the input (zero for j < k).
template <int K>
ZUL_AVX512 inline __m512i Previous(__m512i v) {
    // Lane l receives lane l - 1, lane 0 zeros; then each lane takes its last K bytes from there.
    const __m512i lanesBefore = _mm512_maskz_shuffle_i64x2(0xFC, v, v, _MM_SHUFFLE(2, 1, 0, 0));
    return _mm512_alignr_epi8(v, lanesBefore, 16 - K);
}

ZUL_AVX512 inline __m512i Broadcast16(const unsigned char (&table)[16]) {
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

// Bytes of `v` (a block that starts where a character starts) at which UTF-8 is broken.
ZUL_AVX512 inline __mmask64 Errors(__m512i v) {
    const __m512i nibble = Splat8(0x0F);
    const __m512i prev1 = Previous<1>(v);
    const __m512i firstHigh =
        _mm512_shuffle_epi8(Broadcast16(kFirstHigh), _mm512_and_si512(_mm512_srli_epi16(prev1, 4), nibble));
    const __m512i firstLow = _mm512_shuffle_epi8(Broadcast16(kFirstLow), _mm512_and_si512(prev1, nibble));
    const __m512i secondHigh =
        _mm512_shuffle_epi8(Broadcast16(kSecondHigh), _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble));
    const __m512i special = _mm512_ternarylogic_epi32(firstHigh, firstLow, secondHigh, 0x80);  // a & b & c
    // Third and fourth bytes must be continuations: flagged (bit 7) where a lead two or three
    // bytes back asks for one.
    const __m512i third = _mm512_subs_epu8(Previous<2>(v), Splat8(0xE0 - 0x80));
    const __m512i fourth = _mm512_subs_epu8(Previous<3>(v), Splat8(0xF0 - 0x80));
    const __m512i must = _mm512_and_si512(_mm512_or_si512(third, fourth), Splat8(0x80));
    const __m512i error = _mm512_xor_si512(must, special);
    return _mm512_test_epi8_mask(error, error);
}

ZUL_AVX512 inline __mmask64 FirstBits64(std::size_t count) {
    return count >= 64 ? ~0ULL : _bzhi_u64(~0ULL, static_cast<unsigned>(count));
}
ZUL_AVX512 inline __mmask32 FirstBits32(std::size_t count) {
    return count >= 32 ? ~0U : _bzhi_u32(~0U, static_cast<unsigned>(count));
}

// Bits of `a` where `mask` has ones, of `b` elsewhere.
ZUL_AVX512 inline __m512i Select(std::uint16_t mask, __m512i a, __m512i b) {
    return _mm512_ternarylogic_epi32(Splat16(mask), a, b, 0xCA);
}

// The units of up to 32 characters, given the first, second and third byte of each (zero-extended
// to 16 bits) and which kind each is. A four-byte character comes twice: at its lead for the high
// surrogate, and at its second byte (a continuation byte) for the low one, whose "second and
// third" bytes are then the character's last two. The selects also drop the marker bits of lead
// and continuation bytes.
struct Kinds {
    __mmask32 ascii, two, four, lowSurrogate;  // the rest are three-byte characters
};

ZUL_AVX512 inline __m512i Units(__m512i b0, __m512i b1, __m512i b2, const Kinds& kinds) {
    const __m512i b1x64 = _mm512_slli_epi16(b1, 6);
    __m512i units = Select(0xF000, _mm512_slli_epi16(b0, 12), Select(0x0FC0, b1x64, b2));
    units = _mm512_mask_mov_epi16(units, kinds.two, Select(0x07C0, _mm512_slli_epi16(b0, 6), b1));
    units = _mm512_mask_mov_epi16(units, kinds.ascii, b0);
    // 0xD800 + (code point >> 10) - 0x40
    const __m512i high = _mm512_add_epi16(
        Select(0x0700, _mm512_slli_epi16(b0, 8), Select(0x00FC, _mm512_slli_epi16(b1, 2), _mm512_srli_epi16(b2, 4))),
        Splat16(0xD7C0));
    units = _mm512_mask_mov_epi16(units, kinds.four, high);
    const __m512i low = _mm512_or_si512(Select(0x03C0, b1x64, b2), Splat16(0xDC00));
    return _mm512_mask_mov_epi16(units, kinds.lowSurrogate, low);
}

// Writes the units of the valid block `v` at `p` whose positions `keep` marks (character starts,
// and second bytes of four-byte characters); `available` bytes may be read from `p` on. The
// first, second and third bytes of each are compressed to the front of three registers first,
// so that CJK text (a unit per three bytes) takes one 32-unit step per block.
ZUL_AVX512 inline void WriteBlockUnits(const unsigned char* p, std::size_t available, __m512i v, __mmask64 keep,
                                       char16_t* out) {
    const __m512i v1 =
        available >= 65 ? _mm512_loadu_si512(p + 1) : _mm512_maskz_loadu_epi8(FirstBits64(available - 1), p + 1);
    const __m512i v2 = available >= 66 ? _mm512_loadu_si512(p + 2)
                                       : _mm512_maskz_loadu_epi8(available > 2 ? FirstBits64(available - 2) : 0, p + 2);
    const __m512i first = _mm512_maskz_compress_epi8(keep, v);
    const __m512i second = _mm512_maskz_compress_epi8(keep, v1);
    const __m512i third = _mm512_maskz_compress_epi8(keep, v2);
    const __mmask64 below80 = _mm512_cmplt_epu8_mask(first, Splat8(0x80));
    const __mmask64 belowC0 = _mm512_cmplt_epu8_mask(first, Splat8(0xC0));
    const __mmask64 belowE0 = _mm512_cmplt_epu8_mask(first, Splat8(0xE0));
    const __mmask64 belowF0 = _mm512_cmplt_epu8_mask(first, Splat8(0xF0));
    const std::size_t units = static_cast<std::size_t>(_mm_popcnt_u64(keep));
    for (unsigned half = 0; 32 * half < units; ++half) {
        const unsigned shift = 32 * half;
        const Kinds kinds = {
            static_cast<__mmask32>(below80 >> shift), static_cast<__mmask32>((belowE0 & ~belowC0) >> shift),
            static_cast<__mmask32>(~belowF0 >> shift), static_cast<__mmask32>((belowC0 & ~below80) >> shift)};
        const auto widen = [half](__m512i bytes) __attribute__((always_inline, target("avx512f,avx512bw"))) {
            return _mm512_cvtepu8_epi16(half == 0 ? _mm512_castsi512_si256(bytes)
                                                  : _mm512_extracti64x4_epi64(bytes, 1));
        };
        _mm512_mask_storeu_epi16(out + shift, FirstBits32(units - shift),
                                 Units(widen(first), widen(second), widen(third), kinds));
    }
}

// Where the characters of a valid full block end: before the character that the block cuts off,
// if any. Read from the last three bytes alone, so that finding the next block does not wait for
// the validation of this one.
inline std::size_t CompleteEnd(const unsigned char* block) {
    std::size_t end = 64;
    end = block[63] >= 0xC0 ? 63 : end;
    end = block[62] >= 0xE0 ? 62 : end;
    end = block[61] >= 0xF0 ? 61 : end;
    return end;
}

// Widens the `length` ASCII bytes of `v` to units at `out`.
ZUL_AVX512 inline void WidenAscii(__m512i v, std::size_t length, char16_t* out) {
    const __m512i low = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(v));
    const __m512i high = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1));
    if (length == 64) {
        _mm512_storeu_si512(out, low);
        _mm512_storeu_si512(out + 32, high);
    } else {
        const __mmask64 inBlock = FirstBits64(length);
        _mm512_mask_storeu_epi16(out, static_cast<__mmask32>(inBlock), low);
        _mm512_mask_storeu_epi16(out + 32, static_cast<__mmask32>(inBlock >> 32), high);
    }
}

template <bool Write>
ZUL_AVX512 std::size_t Decode(const unsigned char* in, std::size_t n, char16_t* out, std::size_t capacity) {
    std::size_t i = 0;
    std::size_t o = 0;
    // Leading ASCII first, in a loop of its own: short strings are often nothing else, and the
    // constants of the loop below then need not be set up. Counting takes 256 bytes a step.
    if constexpr (!Write) {
        while (n - i >= 256) {
            const __m512i any = _mm512_ternarylogic_epi32(
                _mm512_loadu_si512(in + i), _mm512_loadu_si512(in + i + 64),
                _mm512_or_si512(_mm512_loadu_si512(in + i + 128), _mm512_loadu_si512(in + i + 192)), 0xFE);
            if (_mm512_movepi8_mask(any) != 0) break;
            i += 256;
        }
        o = i;
    }
    while (i < n) {
        const std::size_t length = n - i < 64 ? n - i : 64;
        const __m512i v =
            length == 64 ? _mm512_loadu_si512(in + i) : _mm512_maskz_loadu_epi8(FirstBits64(length), in + i);
        if (_mm512_movepi8_mask(v) != 0) break;
        if constexpr (Write) {
            if (capacity - o < length) return kNoFit;
            WidenAscii(v, length, out + o);
        }
        i += length;
        o += length;
    }
    // Blocks that need the scalar steps leave the vector loop, which then holds no call that
    // would clobber its constants.
    while (i < n) {
        std::size_t scalarUntil = 0;
        while (i < n) {
            const std::size_t available = n - i;
            const bool full = available >= 64;
            const std::size_t length = full ? 64 : available;
            const __mmask64 inBlock = FirstBits64(length);
            const __m512i v = full ? _mm512_loadu_si512(in + i) : _mm512_maskz_loadu_epi8(inBlock, in + i);
            const __mmask64 nonAscii = _mm512_movepi8_mask(v);
            if (nonAscii == 0) {
                if constexpr (Write) {
                    if (capacity - o < length) return kNoFit;
                    WidenAscii(v, length, out + o);
                }
                i += length;
                o += length;
                continue;
            }
            if ((Errors(v) & inBlock) != 0) {
                scalarUntil = i + length;
                break;
            }
            const __mmask64 lead2 = _mm512_cmpge_epu8_mask(v, Splat8(0xC0));
            const __mmask64 lead4 = _mm512_cmpge_epu8_mask(v, Splat8(0xF0));
            std::size_t end = 0;
            if (full) {
                end = CompleteEnd(in + i);
            } else {
                // A character that the end of the input cuts off goes to the scalar steps.
                const __mmask64 lead3 = _mm512_cmpge_epu8_mask(v, Splat8(0xE0));
                const __mmask64 cut = (lead2 & inBlock & ~(inBlock >> 1)) | (lead3 & inBlock & ~(inBlock >> 2)) |
                                      (lead4 & inBlock & ~(inBlock >> 3));
                end = cut != 0 ? static_cast<std::size_t>(_tzcnt_u64(cut)) : length;
                if (end == 0) {
                    scalarUntil = n;
                    break;
                }
            }
            const __mmask64 starts = _mm512_cmpgt_epi8_mask(v, Splat8(-65));  // not 80..BF
            const __mmask64 keep = (starts | (lead4 << 1)) & FirstBits64(end);
            const std::size_t units = static_cast<std::size_t>(_mm_popcnt_u64(keep));
            if constexpr (Write) {
                if (capacity - o < units) return kNoFit;
                WriteBlockUnits(in + i, available, v, keep, out + o);
            }
            o += units;
            i += end;
        }
        if (i < n && !DecodeCharactersUntil<Write>(in, n, i, scalarUntil, out, capacity, o)) return kNoFit;
    }
    return o;
}

// Each of 16 units (no surrogate among them unless `pairHigh` or `lone` say so) as the UTF-8
// bytes it starts, in a 32-bit lane: 1 to 3 bytes, 4 for the high unit of a pair (`next` holds
// the unit after each), U+FFFD's 3 for a lone surrogate.
struct LaneMasks {
    __mmask16 below80, below800, pairHigh, lone;
};

ZUL_AVX512 inline __m512i LaneBytes(__m512i u, __m512i next, const LaneMasks& m) {
    const __m512i low6 = Splat32(0x3F);
    const __m512i c0 = _mm512_and_si512(u, low6);
    const __m512i c1 = _mm512_and_si512(_mm512_srli_epi32(u, 6), low6);
    // 0xF8 selects a | b | c.
    const __m512i twoBytes =
        _mm512_ternarylogic_epi32(Splat32(0x80C0), _mm512_srli_epi32(u, 6), _mm512_slli_epi32(c0, 8), 0xFE);
    __m512i bytes =
        _mm512_ternarylogic_epi32(Splat32(0x8080E0), _mm512_srli_epi32(u, 12),
                                  _mm512_or_si512(_mm512_slli_epi32(c1, 8), _mm512_slli_epi32(c0, 16)), 0xFE);
    bytes = _mm512_mask_mov_epi32(bytes, m.below800, twoBytes);
    bytes = _mm512_mask_mov_epi32(bytes, m.below80, u);
    if (m.pairHigh != 0 || m.lone != 0) {
        const __m512i cp = _mm512_sub_epi32(_mm512_add_epi32(_mm512_slli_epi32(u, 10), next), Splat32(0x35FDC00));
        const __m512i fourBytes = _mm512_or_si512(
            _mm512_ternarylogic_epi32(Splat32(static_cast<int>(0x808080F0)), _mm512_srli_epi32(cp, 18),
                                      _mm512_slli_epi32(_mm512_and_si512(_mm512_srli_epi32(cp, 12), low6), 8), 0xFE),
            _mm512_or_si512(_mm512_slli_epi32(_mm512_and_si512(_mm512_srli_epi32(cp, 6), low6), 16),
                            _mm512_slli_epi32(_mm512_and_si512(cp, low6), 24)));
        bytes = _mm512_mask_mov_epi32(bytes, m.lone, Splat32(0xBDBFEF));
        bytes = _mm512_mask_mov_epi32(bytes, m.pairHigh, fourBytes);
    }
    return bytes;
}

// Four mask bits per unit, one per byte it writes; `present` leaves out the low units of pairs.
ZUL_AVX512 inline std::uint64_t ByteMask(std::uint32_t present, std::uint32_t ge80, std::uint32_t ge800,
                                         std::uint32_t pairHigh) {
    return _pdep_u64(present, 0x1111111111111111ULL) | _pdep_u64(ge80 & present, 0x2222222222222222ULL) |
           _pdep_u64(ge800 & present, 0x4444444444444444ULL) | _pdep_u64(pairHigh, 0x8888888888888888ULL);
}

// Narrows the `length` ASCII units of `v` to bytes at `out`.
ZUL_AVX512 inline void NarrowAscii(__m512i v, std::size_t length, unsigned char* out) {
    if (length == 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi16_epi8(v));
    else
        _mm512_mask_cvtepi16_storeu_epi8(out, FirstBits32(length), v);
}

template <bool Write>
ZUL_AVX512 std::size_t Encode(const char16_t* in, std::size_t n, unsigned char* out, std::size_t capacity) {
    std::size_t i = 0;
    std::size_t o = 0;
    // Leading ASCII in a loop of its own, as when decoding.
    while (i < n) {
        const std::size_t length = n - i < 32 ? n - i : 32;
        const __m512i v =
            length == 32 ? _mm512_loadu_si512(in + i) : _mm512_maskz_loadu_epi16(FirstBits32(length), in + i);
        if (_mm512_cmpge_epu16_mask(v, Splat16(0x80)) != 0) break;
        if constexpr (Write) {
            if (capacity - o < length) return kNoFit;
            NarrowAscii(v, length, out + o);
        }
        i += length;
        o += length;
    }
    while (i < n) {
        const std::size_t available = n - i;
        const bool full = available >= 32;
        const std::size_t length = full ? 32 : available;
        const __mmask32 inBlock = FirstBits32(length);
        const __m512i v = full ? _mm512_loadu_si512(in + i) : _mm512_maskz_loadu_epi16(inBlock, in + i);
        const __mmask32 ge80 = _mm512_cmpge_epu16_mask(v, Splat16(0x80));
        if (ge80 == 0) {
            if constexpr (Write) {
                if (capacity - o < length) return kNoFit;
                NarrowAscii(v, length, out + o);
            }
            i += length;
            o += length;
            continue;
        }
        const __mmask32 ge800 = _mm512_cmpge_epu16_mask(v, Splat16(0x800));
        if (ge800 == 0) {
            // One or two bytes per unit (Latin, Greek, Cyrillic, Hebrew, Arabic): both laid out in
            // the unit's own 16-bit lane, lead byte first, then compressed in one step.
            const std::size_t total = length + static_cast<std::size_t>(_mm_popcnt_u32(ge80));
            if constexpr (Write) {
                if (capacity - o < total) return kNoFit;
                const __m512i twoBytes = _mm512_ternarylogic_epi32(
                    Splat16(0x80C0), _mm512_srli_epi16(v, 6), _mm512_slli_epi16(_mm512_and_si512(v, Splat16(0x3F)), 8),
                    0xFE);  // a | b | c
                const __m512i bytes = _mm512_mask_mov_epi16(v, ge80, twoBytes);
                const __mmask64 keep =
                    _pdep_u64(inBlock, 0x5555555555555555ULL) | _pdep_u64(ge80, 0xAAAAAAAAAAAAAAAAULL);
                _mm512_mask_storeu_epi8(out + o, FirstBits64(total), _mm512_maskz_compress_epi8(keep, bytes));
            }
            i += length;
            o += total;
            continue;
        }
        const __mmask32 surrogates = _mm512_cmpeq_epi16_mask(_mm512_and_si512(v, Splat16(0xF800)), Splat16(0xD800));
        // A pair that the block cuts off waits for the next block.
        const bool pairCut = available > 32 && IsHighSurrogate(in[i + 31]) && IsLowSurrogate(in[i + 32]);
        const std::size_t end = pairCut ? 31 : length;
        const __mmask32 inEnd = FirstBits32(end);
        __mmask32 pairHigh = 0;
        __mmask32 pairLow = 0;
        __mmask32 lone = 0;
        if (surrogates != 0) {
            const __mmask32 high =
                _mm512_mask_cmpeq_epi16_mask(surrogates, _mm512_and_si512(v, Splat16(0xFC00)), Splat16(0xD800));
            const __mmask32 low = surrogates & ~high;
            pairHigh = high & (low >> 1) & inEnd;
            pairLow = pairHigh << 1;
            lone = surrogates & ~pairHigh & ~pairLow & inEnd;
        }
        const __mmask32 present = inEnd & ~pairLow;
        const std::uint64_t keep[2] = {ByteMask(present & 0xFFFF, ge80 & 0xFFFF, ge800 & 0xFFFF, pairHigh & 0xFFFF),
                                       ByteMask(present >> 16, ge80 >> 16, ge800 >> 16, pairHigh >> 16)};
        const std::size_t total = static_cast<std::size_t>(_mm_popcnt_u64(keep[0]) + _mm_popcnt_u64(keep[1]));
        if constexpr (Write) {
            if (capacity - o < total) return kNoFit;
            for (unsigned half = 0; half < 2 && 16 * half < end; ++half) {
                const unsigned shift = 16 * half;
                const __m512i u =
                    _mm512_cvtepu16_epi32(half == 0 ? _mm512_castsi512_si256(v) : _mm512_extracti64x4_epi64(v, 1));
                const LaneMasks m = {static_cast<__mmask16>(~ge80 >> shift), static_cast<__mmask16>(~ge800 >> shift),
                                     static_cast<__mmask16>(pairHigh >> shift), static_cast<__mmask16>(lone >> shift)};
                __m512i next = u;
                if (m.pairHigh != 0) {
                    const std::size_t after = available - shift - 1;  // units readable after this half's first
                    next = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(
                        static_cast<__mmask16>(after >= 16 ? 0xFFFF : _bzhi_u32(~0U, static_cast<unsigned>(after))),
                        in + i + shift + 1));
                }
                const unsigned count = static_cast<unsigned>(_mm_popcnt_u64(keep[half]));
                _mm512_mask_storeu_epi8(out + o, FirstBits64(count),
                                        _mm512_maskz_compress_epi8(keep[half], LaneBytes(u, next, m)));
                o += count;
            }
        } else {
            o += total;
        }
        i += end;
    }
    return o;
}

}  // namespace

ZUL_AVX512 std::size_t Utf16Length(std::span<const char> in) noexcept {
    return Decode<false>(reinterpret_cast<const unsigned char*>(in.data()), in.size(), nullptr, 0);
}

ZUL_AVX512 std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept {
    return Decode<true>(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data(), out.size());
}

ZUL_AVX512 std::size_t Utf8Length(std::span<const char16_t> in) noexcept {
    return Encode<false>(in.data(), in.size(), nullptr, 0);
}

ZUL_AVX512 std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept {
    return Encode<true>(in.data(), in.size(), reinterpret_cast<unsigned char*>(out.data()), out.size());
}

}  // namespace zul::text::utf8::detail::avx512

#else  // no x86-64: never selected, kept so that the kernel table links

ZUL_UTF8_KERNEL_AS_SCALAR(avx512)

#endif
