// Single-byte codeset tables: probing and building them from iconv, the process-wide cache, and
// the conversions (scalar, and AVX-512 with the tables held in registers).
#include "foundation/single_byte_codeset.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "foundation/text_utf8.hpp"

#if defined(__x86_64__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 reports its own AVX-512 headers as maybe-uninitialized once they are inlined here.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define ZUL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,bmi,bmi2,popcnt")))
#endif

namespace zul::text {
namespace {

constexpr std::size_t kNoFit = SIZE_MAX;
constexpr std::size_t kIconvFailed = static_cast<std::size_t>(-1);
constexpr char16_t kReplacement = 0xFFFD;
constexpr std::size_t kMaxName = 63;

inline bool IsHighSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xD800; }
inline bool IsLowSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xDC00; }
inline bool IsSurrogate(char16_t unit) noexcept { return (unit & 0xF800) == 0xD800; }

// The verdict on one codeset. Entries are pushed at the head and never removed, so readers walk
// the list without a lock; two threads probing the same codeset at once may both push, which
// costs only memory.
struct Entry {
    char name[kMaxName + 1];
    const SingleByteCodeset* table;
    Entry* next;
};

std::atomic<Entry*> g_entries{nullptr};

bool SameName(const char* stored, std::string_view name) noexcept {
    return std::strlen(stored) == name.size() && std::memcmp(stored, name.data(), name.size()) == 0;
}

// Decodes `in` with `decoder` from its initial state: the units, or nothing when iconv refuses
// any byte or holds one back.
bool DecodeExactly(iconv_t decoder, const unsigned char* in, std::size_t n, char16_t* out, std::size_t& produced) {
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
    std::size_t inLeft = n;
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t outLeft = (n + 1) * sizeof(char16_t);
    const bool converted = iconv(decoder, &inPtr, &inLeft, &outPtr, &outLeft) != kIconvFailed && inLeft == 0;
    produced = ((n + 1) * sizeof(char16_t) - outLeft) / sizeof(char16_t);
    return converted;
}

}  // namespace

std::optional<const SingleByteCodeset*> SingleByteCodeset::Cached(std::string_view codeset) noexcept {
    for (const Entry* e = g_entries.load(std::memory_order_acquire); e; e = e->next)
        if (SameName(e->name, codeset)) return e->table;
    return std::nullopt;
}

const SingleByteCodeset* SingleByteCodeset::Probe(std::string_view codeset, iconv_t decoder) noexcept {
    if (codeset.size() > kMaxName) return nullptr;
    Entry* entry = new (std::nothrow) Entry{};
    if (!entry) return nullptr;
    std::memcpy(entry->name, codeset.data(), codeset.size());
    SingleByteCodeset* table = new (std::nothrow) SingleByteCodeset;
    if (!table) {
        delete entry;
        return nullptr;
    }
    bool singleByte = true;
    bool defined[256] = {};
    // Each byte alone: one unit out at once (not on the flush that ends the input), or refused.
    for (int b = 0; b < 256 && singleByte; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        char16_t units[4];
        std::size_t produced = 0;
        if (DecodeExactly(decoder, &byte, 1, units, produced)) {
            singleByte = produced == 1 && !IsSurrogate(units[0]);
            char16_t flushed[4];
            char* outPtr = reinterpret_cast<char*>(flushed);
            std::size_t outLeft = sizeof flushed;
            singleByte = singleByte && iconv(decoder, nullptr, nullptr, &outPtr, &outLeft) != kIconvFailed &&
                         outLeft == sizeof flushed;
            table->m_decode[b] = units[0];
            defined[b] = true;
        } else {
            singleByte = errno == EILSEQ && produced == 0;
            table->m_decode[b] = kReplacement;
        }
    }
    // The defined bytes in a row, both ways round, must give the same units as alone: nothing
    // depends on context.
    if (singleByte) {
        unsigned char run[256];
        char16_t units[257];
        std::size_t count = 0;
        for (int b = 0; b < 256; ++b)
            if (defined[b]) run[count++] = static_cast<unsigned char>(b);
        for (int pass = 0; pass < 2 && singleByte; ++pass) {
            if (pass == 1)
                for (std::size_t k = 0; k < count / 2; ++k) std::swap(run[k], run[count - 1 - k]);
            std::size_t produced = 0;
            singleByte = DecodeExactly(decoder, run, count, units, produced) && produced == count;
            for (std::size_t k = 0; k < count && singleByte; ++k) singleByte = units[k] == table->m_decode[run[k]];
        }
    }
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    // Encoding is the exact inverse: a character with two bytes, or a codeset without '?', is
    // left to iconv.
    int questionMark = -1;
    if (singleByte) {
        char16_t units[256];
        std::size_t count = 0;
        for (int b = 0; b < 256; ++b) {
            if (!defined[b]) continue;
            units[count++] = table->m_decode[b];
            if (table->m_decode[b] == u'?') questionMark = b;
        }
        std::sort(units, units + count);
        singleByte = std::adjacent_find(units, units + count) == units + count && questionMark >= 0;
        if (singleByte) {
            table->m_defaultByte = static_cast<unsigned char>(questionMark);
            std::memset(table->m_encode, questionMark, sizeof table->m_encode);
            for (int b = 0; b < 256; ++b)
                if (defined[b]) table->m_encode[table->m_decode[b]] = static_cast<unsigned char>(b);
        }
    }
    if (!singleByte) {
        delete table;
        table = nullptr;
    }
    entry->table = table;
    entry->next = g_entries.load(std::memory_order_relaxed);
    while (!g_entries.compare_exchange_weak(entry->next, entry, std::memory_order_release, std::memory_order_relaxed)) {
    }
    return table;
}

bool SingleByteCodeset::Avx512() noexcept {
    static const bool supported = utf8::KernelSupported(utf8::Kernel::Avx512);
    return supported;
}

namespace {

std::size_t DecodeScalar(const char16_t* table, const unsigned char* in, std::size_t n, char16_t* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = table[in[i]];
    return n;
}

// One byte per character from `i` until `stop` (or the end); a pair is one character. Returns
// false when `out` is full.
bool EncodeCharactersUntil(const unsigned char* table, unsigned char defaultByte, const char16_t* in, std::size_t n,
                           std::size_t& i, std::size_t stop, unsigned char* out, std::size_t capacity,
                           std::size_t& o) noexcept {
    if (stop > n) stop = n;
    while (i < stop) {
        if (o == capacity) return false;
        const char16_t unit = in[i];
        if (IsHighSurrogate(unit) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
            out[o++] = defaultByte;
            i += 2;
        } else {
            out[o++] = table[unit];
            i += 1;
        }
    }
    return true;
}

std::size_t CountPairsScalar(const char16_t* in, std::size_t n) noexcept {
    std::size_t pairs = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (IsHighSurrogate(in[i]) && IsLowSurrogate(in[i + 1])) {
            ++pairs;
            ++i;
        }
    }
    return pairs;
}

#if defined(__x86_64__)

ZUL_AVX512 inline __mmask32 FirstBits32(std::size_t count) {
    return count >= 32 ? ~0U : _bzhi_u32(~0U, static_cast<unsigned>(count));
}
ZUL_AVX512 inline __mmask64 FirstBits64(std::size_t count) {
    return count >= 64 ? ~0ULL : _bzhi_u64(~0ULL, static_cast<unsigned>(count));
}

// The 256 units of the table in eight registers; four two-register permutes cover 64 entries
// each, and bits 6 and 7 of the byte choose among them.
ZUL_AVX512 std::size_t DecodeAvx512(const char16_t* table, const unsigned char* in, std::size_t n, char16_t* out) {
    __m512i t[8];
    for (int k = 0; k < 8; ++k) t[k] = _mm512_load_si512(table + 32 * k);
    for (std::size_t i = 0; i < n; i += 32) {
        const __mmask32 inBlock = FirstBits32(n - i);
        const __m512i w = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(inBlock, in + i));
        const __m512i r0 = _mm512_permutex2var_epi16(t[0], w, t[1]);
        const __m512i r1 = _mm512_permutex2var_epi16(t[2], w, t[3]);
        const __m512i r2 = _mm512_permutex2var_epi16(t[4], w, t[5]);
        const __m512i r3 = _mm512_permutex2var_epi16(t[6], w, t[7]);
        const __mmask32 bit6 = _mm512_test_epi16_mask(w, _mm512_set1_epi16(0x40));
        const __mmask32 bit7 = _mm512_test_epi16_mask(w, _mm512_set1_epi16(0x80));
        const __m512i low = _mm512_mask_mov_epi16(r0, bit6, r1);
        const __m512i high = _mm512_mask_mov_epi16(r2, bit6, r3);
        _mm512_mask_storeu_epi16(out + i, inBlock, _mm512_mask_mov_epi16(low, bit7, high));
    }
    return n;
}

// Blocks of 64 units below U+0100 (all of Latin text in the Latin codesets) are packed to bytes
// and looked up in the first 256 entries by two byte permutes; other blocks go unit by unit.
ZUL_AVX512 std::size_t EncodeAvx512(const unsigned char* table, unsigned char defaultByte, const char16_t* in,
                                    std::size_t n, unsigned char* out, std::size_t capacity) {
    __m512i t[4];
    for (int k = 0; k < 4; ++k) t[k] = _mm512_load_si512(table + 64 * k);
    const __m512i below100 = _mm512_set1_epi16(0x100);
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        const std::size_t length = n - i < 64 ? n - i : 64;
        const __mmask32 first = FirstBits32(length);
        const __mmask32 second = length > 32 ? FirstBits32(length - 32) : 0;
        const __m512i a = _mm512_maskz_loadu_epi16(first, in + i);
        const __m512i b = _mm512_maskz_loadu_epi16(second, in + i + 32);
        if ((_mm512_cmpge_epu16_mask(a, below100) | _mm512_cmpge_epu16_mask(b, below100)) != 0 ||
            capacity - o < length) {
            if (!EncodeCharactersUntil(table, defaultByte, in, n, i, i + length, out, capacity, o)) return kNoFit;
            continue;
        }
        const __m512i bytes =
            _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi16_epi8(a)), _mm512_cvtepi16_epi8(b), 1);
        const __m512i low = _mm512_permutex2var_epi8(t[0], bytes, t[1]);
        const __m512i high = _mm512_permutex2var_epi8(t[2], bytes, t[3]);
        _mm512_mask_storeu_epi8(out + o, FirstBits64(length),
                                _mm512_mask_mov_epi8(low, _mm512_movepi8_mask(bytes), high));
        i += length;
        o += length;
    }
    return o;
}

ZUL_AVX512 std::size_t CountPairsAvx512(const char16_t* in, std::size_t n) {
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < n; i += 32) {
        const std::size_t length = n - i < 32 ? n - i : 32;
        const __m512i v = _mm512_maskz_loadu_epi16(FirstBits32(length), in + i);
        const __m512i top = _mm512_and_si512(v, _mm512_set1_epi16(static_cast<short>(0xFC00)));
        const __mmask32 high = _mm512_cmpeq_epi16_mask(top, _mm512_set1_epi16(static_cast<short>(0xD800)));
        if (high == 0) continue;
        const __mmask32 low = _mm512_cmpeq_epi16_mask(top, _mm512_set1_epi16(static_cast<short>(0xDC00)));
        const bool lowFollows = i + length < n && IsLowSurrogate(in[i + length]);
        // A high unit pairs with the low unit after it; a low unit is never also a high one, so
        // no unit is counted in two pairs.
        const __mmask32 paired = high & ((low >> 1) | (lowFollows ? 1U << (length - 1) : 0U));
        pairs += static_cast<std::size_t>(_mm_popcnt_u32(paired));
    }
    return pairs;
}

#endif

}  // namespace

std::size_t SingleByteCodeset::ToUtf16(std::span<const char> in, std::span<char16_t> out,
                                       Kernel kernel) const noexcept {
    if (out.size() < in.size()) return kNoFit;
    const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
#if defined(__x86_64__)
    if (kernel == Kernel::Avx512 || (kernel == Kernel::Best && Avx512()))
        return DecodeAvx512(m_decode, bytes, in.size(), out.data());
#endif
    (void)kernel;
    return DecodeScalar(m_decode, bytes, in.size(), out.data());
}

std::size_t SingleByteCodeset::NarrowLength(std::span<const char16_t> in, Kernel kernel) const noexcept {
#if defined(__x86_64__)
    if (kernel == Kernel::Avx512 || (kernel == Kernel::Best && Avx512()))
        return in.size() - CountPairsAvx512(in.data(), in.size());
#endif
    (void)kernel;
    return in.size() - CountPairsScalar(in.data(), in.size());
}

std::size_t SingleByteCodeset::ToNarrow(std::span<const char16_t> in, std::span<char> out,
                                        Kernel kernel) const noexcept {
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
#if defined(__x86_64__)
    if (kernel == Kernel::Avx512 || (kernel == Kernel::Best && Avx512()))
        return EncodeAvx512(m_encode, m_defaultByte, in.data(), in.size(), bytes, out.size());
#endif
    (void)kernel;
    std::size_t i = 0;
    std::size_t o = 0;
    if (!EncodeCharactersUntil(m_encode, m_defaultByte, in.data(), in.size(), i, in.size(), bytes, out.size(), o))
        return kNoFit;
    return o;
}

}  // namespace zul::text
