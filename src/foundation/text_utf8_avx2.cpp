// The AVX2 UTF-8 kernel: the method of the AVX-512 kernel on 32-byte blocks (16 units when
// encoding), with shuffle tables instead of compress instructions. Blocks end early where the
// input does: the last few bytes go through a zero-padded copy, so loads never pass the input.
//
// Decoding: a block that starts where a character starts is proved valid on its own, every byte
// yields the unit it would start, and each group of 8 units is packed by a table shuffle that
// keeps the character starts. Encoding: every unit of a block without surrogates becomes 1 to 3
// bytes in a 32-bit lane, and each group of 4 lanes is packed by a table shuffle indexed by their
// lengths; blocks with surrogates, and blocks with errors when decoding, go to the scalar steps.
#include <cstring>

#include "foundation/text_utf8.hpp"
#include "foundation/text_utf8_kernels.hpp"
#include "foundation/text_utf8_validation.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#define ZUL_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace zul::text::utf8::detail::avx2 {
namespace {

using namespace validation;

struct ShuffleTable {
    alignas(16) unsigned char shuffle[256][16];
    unsigned char length[256];
};

// Keeps the 16-bit units whose bit is set in the index, packed to the front.
constexpr ShuffleTable MakeUnitPacking() {
    ShuffleTable table{};
    for (int mask = 0; mask < 256; ++mask) {
        int k = 0;
        for (int j = 0; j < 8; ++j) {
            if ((mask >> j & 1) == 0) continue;
            table.shuffle[mask][2 * k] = static_cast<unsigned char>(2 * j);
            table.shuffle[mask][2 * k + 1] = static_cast<unsigned char>(2 * j + 1);
            ++k;
        }
        for (int b = 2 * k; b < 16; ++b) table.shuffle[mask][b] = 0x80;
        table.length[mask] = static_cast<unsigned char>(k);
    }
    return table;
}

// Keeps the first 1 to 3 bytes of each of four 32-bit lanes; the index holds length - 1 of each
// lane in two bits (3 does not occur).
constexpr ShuffleTable MakeBytePacking() {
    ShuffleTable table{};
    for (int index = 0; index < 256; ++index) {
        int k = 0;
        for (int lane = 0; lane < 4; ++lane) {
            const int length = (index >> (2 * lane) & 3) + 1;
            for (int b = 0; b < length && length < 4; ++b)
                table.shuffle[index][k++] = static_cast<unsigned char>(4 * lane + b);
        }
        for (int b = k; b < 16; ++b) table.shuffle[index][b] = 0x80;
        table.length[index] = static_cast<unsigned char>(k);
    }
    return table;
}

constexpr ShuffleTable kUnitPacking = MakeUnitPacking();
constexpr ShuffleTable kBytePacking = MakeBytePacking();

ZUL_AVX2 inline __m256i Load32(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
ZUL_AVX2 inline __m256i Broadcast16(const unsigned char (&table)[16]) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}
ZUL_AVX2 inline __m128i Load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// Byte j of the result is byte j - K of `v` (zero for j < K).
template <int K>
ZUL_AVX2 inline __m256i Previous(__m256i v) {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 16 - K);
}

ZUL_AVX2 inline unsigned Errors(__m256i v, __m256i prev1) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i firstHigh =
        _mm256_shuffle_epi8(Broadcast16(kFirstHigh), _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble));
    const __m256i firstLow = _mm256_shuffle_epi8(Broadcast16(kFirstLow), _mm256_and_si256(prev1, nibble));
    const __m256i secondHigh =
        _mm256_shuffle_epi8(Broadcast16(kSecondHigh), _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
    const __m256i special = _mm256_and_si256(_mm256_and_si256(firstHigh, firstLow), secondHigh);
    const __m256i third = _mm256_subs_epu8(Previous<2>(v), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(Previous<3>(v), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    const __m256i error = _mm256_xor_si256(must, special);
    return ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(error, _mm256_setzero_si256())));
}

inline unsigned FirstBits(std::size_t count) { return count >= 32 ? ~0U : (1U << count) - 1; }

// Units of the 16 bytes at `p` (18 readable) as character starts; `prev` are the bytes before them.
ZUL_AVX2 inline __m256i UnitsAt(const unsigned char* p, __m128i prev) {
    const __m256i b0 = _mm256_cvtepu8_epi16(Load16(p));
    const __m256i b1 = _mm256_cvtepu8_epi16(Load16(p + 1));
    const __m256i b2 = _mm256_cvtepu8_epi16(Load16(p + 2));
    const __m256i before = _mm256_cvtepu8_epi16(prev);
    const __m256i low6 = _mm256_set1_epi16(0x3F);
    const __m256i c1 = _mm256_and_si256(b1, low6);
    const __m256i c2 = _mm256_and_si256(b2, low6);
    __m256i units = _mm256_or_si256(_mm256_slli_epi16(b0, 12), _mm256_or_si256(_mm256_slli_epi16(c1, 6), c2));
    const __m256i twoBytes = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(0x1F)), 6), c1);
    const __m256i high =
        _mm256_add_epi16(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(0x07)), 8),
                                         _mm256_or_si256(_mm256_slli_epi16(c1, 2), _mm256_srli_epi16(c2, 4))),
                         _mm256_set1_epi16(static_cast<short>(0xD7C0)));
    const __m256i low =
        _mm256_or_si256(_mm256_set1_epi16(static_cast<short>(0xDC00)),
                        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b1, _mm256_set1_epi16(0x0F)), 6), c2));
    const __m256i isAscii = _mm256_cmpgt_epi16(_mm256_set1_epi16(0x80), b0);
    const __m256i isTwo = _mm256_and_si256(_mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xBF)),
                                           _mm256_cmpgt_epi16(_mm256_set1_epi16(0xE0), b0));
    const __m256i isFour = _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xEF));
    const __m256i isAfterFour = _mm256_cmpgt_epi16(before, _mm256_set1_epi16(0xEF));
    units = _mm256_blendv_epi8(units, b0, isAscii);
    units = _mm256_blendv_epi8(units, twoBytes, isTwo);
    units = _mm256_blendv_epi8(units, high, isFour);
    return _mm256_blendv_epi8(units, low, isAfterFour);
}

// What DecodeBlock returns besides the bytes it consumed.
constexpr std::size_t kUseScalar = 0;
constexpr std::size_t kBlockNoFit = SIZE_MAX;

// One block of `length` (at most 32) bytes at `p`, which holds 34 readable bytes, zero past
// `length`. Returns the bytes consumed, kUseScalar when the block needs the scalar steps, or
// kBlockNoFit; adds the units to `o` and, with Write, writes them. Inner blocks (not Edge) are 32
// bytes with 40 units of room; they find their end from their last three bytes alone, so that
// the next block need not wait for this one's validation, and store without a spill buffer.
template <bool Write, bool Edge>
ZUL_AVX2 std::size_t DecodeBlock(const unsigned char* p, std::size_t length, char16_t* out, std::size_t capacity,
                                 std::size_t& o) {
    const __m256i v = Load32(p);
    const unsigned inBlock = FirstBits(length);
    const unsigned nonAscii = static_cast<unsigned>(_mm256_movemask_epi8(v));
    char16_t spill[Edge ? 48 : 1];
    if (nonAscii == 0) {
        if constexpr (Write) {
            if (capacity - o < length) return kBlockNoFit;
            char16_t* to = !Edge || capacity - o >= 32 ? out + o : spill;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 16),
                                _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
            if (Edge && to == spill) std::memcpy(out + o, spill, length * sizeof(char16_t));
        }
        o += length;
        return length;
    }
    const __m256i prev1 = Previous<1>(v);
    if ((Errors(v, prev1) & inBlock) != 0) return kUseScalar;
    const unsigned starts = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(-65))));
    const unsigned lead4 =
        static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(-17)))) & nonAscii;
    std::size_t end = 32;
    if constexpr (Edge) {
        const unsigned lead2 = starts & nonAscii;
        const unsigned lead3 =
            static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(-33)))) & nonAscii;
        const unsigned cut = (lead2 & inBlock & ~(inBlock >> 1)) | (lead3 & inBlock & ~(inBlock >> 2)) |
                             (lead4 & inBlock & ~(inBlock >> 3));
        end = cut != 0 ? static_cast<std::size_t>(_tzcnt_u32(cut)) : length;
        if (end == 0) return kUseScalar;
    } else {
        end = p[31] >= 0xC0 ? 31 : end;
        end = p[30] >= 0xE0 ? 30 : end;
        end = p[29] >= 0xF0 ? 29 : end;
    }
    const unsigned keep = (starts | (lead4 << 1)) & FirstBits(end);
    const std::size_t units = static_cast<std::size_t>(_mm_popcnt_u32(keep));
    if constexpr (Write) {
        if (capacity - o < units) return kBlockNoFit;
        char16_t* to = !Edge || capacity - o >= units + 8 ? out + o : spill;
        std::size_t at = 0;
        for (unsigned half = 0; half < 2; ++half) {
            const __m128i prev = half == 0 ? _mm256_castsi256_si128(prev1) : _mm256_extracti128_si256(prev1, 1);
            const __m256i all = UnitsAt(p + 16 * half, prev);
            for (unsigned q = 0; q < 2; ++q) {
                const unsigned group = keep >> (16 * half + 8 * q) & 0xFF;
                const __m128i lane = q == 0 ? _mm256_castsi256_si128(all) : _mm256_extracti128_si256(all, 1);
                const __m128i packed = _mm_shuffle_epi8(
                    lane, _mm_load_si128(reinterpret_cast<const __m128i*>(kUnitPacking.shuffle[group])));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), packed);
                at += kUnitPacking.length[group];
            }
        }
        if (Edge && to == spill) std::memcpy(out + o, spill, units * sizeof(char16_t));
    }
    o += units;
    return end;
}

template <bool Write>
ZUL_AVX2 std::size_t Decode(const unsigned char* in, std::size_t n, char16_t* out, std::size_t capacity) {
    std::size_t i = 0;
    std::size_t o = 0;
    alignas(32) unsigned char padded[64];
    while (i < n) {
        // Inner blocks in a loop without calls, which would clobber its constants.
        while (n - i >= 34 && (!Write || capacity - o >= 40)) {
            const std::size_t consumed = DecodeBlock<Write, false>(in + i, 32, out, capacity, o);
            if (consumed == kUseScalar) break;
            i += consumed;
        }
        if (i == n) break;
        const std::size_t rest = n - i;
        const unsigned char* p = in + i;
        std::size_t length = 32;
        if (rest < 34) {
            length = rest < 32 ? rest : 32;
            std::memset(padded, 0, sizeof padded);
            std::memcpy(padded, in + i, rest);
            p = padded;
        }
        const std::size_t consumed = DecodeBlock<Write, true>(p, length, out, capacity, o);
        if (consumed == kBlockNoFit) return kNoFit;
        if (consumed != kUseScalar) {
            i += consumed;
        } else if (!DecodeCharactersUntil<Write>(in, n, i, i + length, out, capacity, o)) {
            return kNoFit;
        }
    }
    return o;
}

// 16 units at `p` of which `length` count, with no surrogate among them: writes their bytes to
// `to` (at least 64 bytes of room) and returns how many.
ZUL_AVX2 std::size_t EncodeBlock(__m256i v, unsigned nonAscii2, unsigned beyond2, unsigned char* to) {
    const unsigned ge800 =
        ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(
            _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xF800))), _mm256_setzero_si256()))) &
        0x55555555U & ~beyond2;
    const unsigned index = (nonAscii2 & 0x55555555U) + ge800;
    std::size_t at = 0;
    for (unsigned half = 0; half < 2; ++half) {
        const __m256i u = _mm256_cvtepu16_epi32(half == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1));
        const __m256i low6 = _mm256_set1_epi32(0x3F);
        const __m256i c0 = _mm256_and_si256(u, low6);
        const __m256i c1 = _mm256_and_si256(_mm256_srli_epi32(u, 6), low6);
        const __m256i twoBytes = _mm256_or_si256(_mm256_set1_epi32(0x80C0),
                                                 _mm256_or_si256(_mm256_srli_epi32(u, 6), _mm256_slli_epi32(c0, 8)));
        __m256i bytes =
            _mm256_or_si256(_mm256_set1_epi32(0x8080E0),
                            _mm256_or_si256(_mm256_srli_epi32(u, 12),
                                            _mm256_or_si256(_mm256_slli_epi32(c1, 8), _mm256_slli_epi32(c0, 16))));
        bytes = _mm256_blendv_epi8(bytes, twoBytes, _mm256_cmpgt_epi32(_mm256_set1_epi32(0x800), u));
        bytes = _mm256_blendv_epi8(bytes, u, _mm256_cmpgt_epi32(_mm256_set1_epi32(0x80), u));
        for (unsigned q = 0; q < 2; ++q) {
            const unsigned group = index >> (16 * half + 8 * q) & 0xFF;
            const __m128i lane = q == 0 ? _mm256_castsi256_si128(bytes) : _mm256_extracti128_si256(bytes, 1);
            const __m128i packed =
                _mm_shuffle_epi8(lane, _mm_load_si128(reinterpret_cast<const __m128i*>(kBytePacking.shuffle[group])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), packed);
            at += kBytePacking.length[group];
        }
    }
    return at;
}

ZUL_AVX2 std::size_t Encode(const char16_t* in, std::size_t n, unsigned char* out, std::size_t capacity) {
    std::size_t i = 0;
    std::size_t o = 0;
    alignas(32) char16_t padded[16];
    unsigned char spill[80];
    while (i < n) {
        const std::size_t rest = n - i;
        const std::size_t length = rest < 16 ? rest : 16;
        const char16_t* p = in + i;
        if (rest < 16) {
            std::memset(padded, 0, sizeof padded);
            std::memcpy(padded, p, rest * sizeof(char16_t));
            p = padded;
        }
        const __m256i v = Load32(p);
        const unsigned beyond2 = ~FirstBits(2 * length);  // two mask bits per unit
        const unsigned nonAscii2 =
            ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(
                _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xFF80))), _mm256_setzero_si256()))) &
            ~beyond2;
        if (nonAscii2 == 0) {
            if (capacity - o < length) return kNoFit;
            const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
            if (capacity - o >= 16) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), bytes);
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(spill), bytes);
                std::memcpy(out + o, spill, length);
            }
            i += length;
            o += length;
            continue;
        }
        const unsigned surrogates = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(
                                        _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xF800))),
                                        _mm256_set1_epi16(static_cast<short>(0xD800))))) &
                                    ~beyond2;
        if (surrogates != 0) {
            if (!EncodeCharactersUntil(in, n, i, i + length, out, capacity, o)) return kNoFit;
            continue;
        }
        const bool direct = capacity - o >= 64;
        const std::size_t written = EncodeBlock(v, nonAscii2, beyond2, direct ? out + o : spill);
        // Zero units past the end of a short block wrote one byte each after the real ones.
        const std::size_t real = written - (16 - length);
        if (!direct) {
            if (capacity - o < real) return kNoFit;
            std::memcpy(out + o, spill, real);
        }
        i += length;
        o += real;
    }
    return o;
}

// One bit (of two) per unit of `v` whose bits under `mask` equal `value`.
ZUL_AVX2 inline unsigned UnitsWhere(__m256i v, short mask, short value) {
    return static_cast<unsigned>(_mm256_movemask_epi8(
               _mm256_cmpeq_epi16(_mm256_and_si256(v, _mm256_set1_epi16(mask)), _mm256_set1_epi16(value)))) &
           0x55555555U;
}

ZUL_AVX2 std::size_t CountUtf8(const char16_t* in, std::size_t n) {
    std::size_t i = 0;
    std::size_t bytes = 0;
    for (; n - i >= 16; i += 16) {
        const __m256i v = Load32(in + i);
        const unsigned ascii = UnitsWhere(v, static_cast<short>(0xFF80), 0);
        const unsigned below800 = UnitsWhere(v, static_cast<short>(0xF800), 0);
        const unsigned high = UnitsWhere(v, static_cast<short>(0xFC00), static_cast<short>(0xD800));
        const unsigned low = UnitsWhere(v, static_cast<short>(0xFC00), static_cast<short>(0xDC00));
        const unsigned lowFollows = i + 16 < n && IsLowSurrogate(in[i + 16]) ? 1U << 30 : 0U;
        const unsigned pairs = high & ((low >> 2) | lowFollows);
        bytes += 16 + (16 - static_cast<std::size_t>(_mm_popcnt_u32(ascii))) +
                 (16 - static_cast<std::size_t>(_mm_popcnt_u32(below800))) -
                 2 * static_cast<std::size_t>(_mm_popcnt_u32(pairs));
    }
    return bytes + scalar::Utf8Length({in + i, n - i});
}

}  // namespace

ZUL_AVX2 std::size_t Utf16Length(std::span<const char> in) noexcept {
    return Decode<false>(reinterpret_cast<const unsigned char*>(in.data()), in.size(), nullptr, 0);
}

ZUL_AVX2 std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept {
    return Decode<true>(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data(), out.size());
}

ZUL_AVX2 std::size_t Utf8Length(std::span<const char16_t> in) noexcept { return CountUtf8(in.data(), in.size()); }

ZUL_AVX2 std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept {
    return Encode(in.data(), in.size(), reinterpret_cast<unsigned char*>(out.data()), out.size());
}

}  // namespace zul::text::utf8::detail::avx2

#else  // no x86-64: never selected, kept so that the kernel table links

ZUL_UTF8_KERNEL_AS_SCALAR(avx2)

#endif
