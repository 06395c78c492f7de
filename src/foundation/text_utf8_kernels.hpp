// Building blocks shared by the UTF-8 kernels: one character decoded or encoded exactly as the
// scalar reference does it, and the entry points of each SIMD kernel. SIMD kernels hand every
// block they cannot prove valid to these scalar steps, which keeps them equal to the reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zul::text::utf8::detail {

inline constexpr char32_t kReplacement = 0xFFFD;

inline bool IsContinuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }
inline bool InRange(unsigned char byte, unsigned char low, unsigned char high) noexcept {
    return byte >= low && byte <= high;
}
inline bool IsHighSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xD800; }
inline bool IsLowSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xDC00; }

// One code point (or U+FFFD) and the bytes it took. Second-byte bounds exclude overlongs, UTF-8
// surrogates and values above U+10FFFF, so a bad second byte ends a subpart after one byte.
struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

inline Decoded DecodeOne(const unsigned char* p, std::size_t available) noexcept {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) return {b0, 1};
    if (b0 < 0xC2) return {kReplacement, 1};
    if (b0 < 0xE0) {
        if (available < 2 || !IsContinuation(p[1])) return {kReplacement, 1};
        return {static_cast<char32_t>((b0 & 0x1F) << 6 | (p[1] & 0x3F)), 2};
    }
    if (b0 < 0xF0) {
        const unsigned char low = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = b0 == 0xED ? 0x9F : 0xBF;
        if (available < 2 || !InRange(p[1], low, high)) return {kReplacement, 1};
        if (available < 3 || !IsContinuation(p[2])) return {kReplacement, 2};
        return {static_cast<char32_t>((b0 & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F)), 3};
    }
    if (b0 < 0xF5) {
        const unsigned char low = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b0 == 0xF4 ? 0x8F : 0xBF;
        if (available < 2 || !InRange(p[1], low, high)) return {kReplacement, 1};
        if (available < 3 || !IsContinuation(p[2])) return {kReplacement, 2};
        if (available < 4 || !IsContinuation(p[3])) return {kReplacement, 3};
        return {static_cast<char32_t>((b0 & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F)), 4};
    }
    return {kReplacement, 1};
}

/// Decodes whole characters from `i` on until `i` reaches `stop` (it may pass it by the rest of
/// the last character) or the end of the input. With Write, returns false when `out` is full.
template <bool Write>
inline bool DecodeCharactersUntil(const unsigned char* in, std::size_t n, std::size_t& i, std::size_t stop,
                                  char16_t* out, std::size_t capacity, std::size_t& o) noexcept {
    if (stop > n) stop = n;
    while (i < stop) {
        const Decoded d = DecodeOne(in + i, n - i);
        if (d.codePoint < 0x10000) {
            if constexpr (Write) {
                if (o == capacity) return false;
                out[o] = static_cast<char16_t>(d.codePoint);
            }
            o += 1;
        } else {
            if constexpr (Write) {
                if (capacity - o < 2) return false;
                const char32_t v = d.codePoint - 0x10000;
                out[o] = static_cast<char16_t>(0xD800 | (v >> 10));
                out[o + 1] = static_cast<char16_t>(0xDC00 | (v & 0x3FF));
            }
            o += 2;
        }
        i += d.length;
    }
    return true;
}

/// Encodes whole characters (a valid pair is one) from `i` on until `i` reaches `stop` or the
/// end; a lone surrogate becomes U+FFFD. Returns false when `out` is full.
inline bool EncodeCharactersUntil(const char16_t* in, std::size_t n, std::size_t& i, std::size_t stop,
                                  unsigned char* out, std::size_t capacity, std::size_t& o) noexcept {
    if (stop > n) stop = n;
    while (i < stop) {
        char32_t c = in[i];
        std::size_t consumed = 1;
        if (IsHighSurrogate(in[i]) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10 | (in[i + 1] - 0xDC00));
            consumed = 2;
        } else if (IsHighSurrogate(in[i]) || IsLowSurrogate(in[i])) {
            c = kReplacement;
        }
        const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (capacity - o < length) return false;
        unsigned char* p = out + o;
        switch (length) {
            case 1:
                p[0] = static_cast<unsigned char>(c);
                break;
            case 2:
                p[0] = static_cast<unsigned char>(0xC0 | c >> 6);
                p[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
                break;
            case 3:
                p[0] = static_cast<unsigned char>(0xE0 | c >> 12);
                p[1] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
                p[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
                break;
            default:
                p[0] = static_cast<unsigned char>(0xF0 | c >> 18);
                p[1] = static_cast<unsigned char>(0x80 | (c >> 12 & 0x3F));
                p[2] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
                p[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
                break;
        }
        o += length;
        i += consumed;
    }
    return true;
}

// The entry points of each kernel, with the contracts of the plain functions in text_utf8.hpp.
#define ZUL_UTF8_KERNEL_DECLARATIONS                                                       \
    std::size_t Utf16Length(std::span<const char> in) noexcept;                            \
    std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept; \
    std::size_t Utf8Length(std::span<const char16_t> in) noexcept;                         \
    std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept;

namespace scalar {
ZUL_UTF8_KERNEL_DECLARATIONS
}
namespace sse2 {
ZUL_UTF8_KERNEL_DECLARATIONS
}
namespace avx2 {
ZUL_UTF8_KERNEL_DECLARATIONS
}
namespace avx512 {
ZUL_UTF8_KERNEL_DECLARATIONS
}

#undef ZUL_UTF8_KERNEL_DECLARATIONS

}  // namespace zul::text::utf8::detail

// Defines a SIMD kernel's entry points as the scalar ones, where its instructions do not exist: it is
// never selected there, but the kernel table still links.
#define ZUL_UTF8_KERNEL_AS_SCALAR(kernel)                                                            \
    namespace zul::text::utf8::detail::kernel {                                                      \
    std::size_t Utf16Length(std::span<const char> in) noexcept { return scalar::Utf16Length(in); }   \
    std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept {          \
        return scalar::DecodeToUtf16(in, out);                                                       \
    }                                                                                                \
    std::size_t Utf8Length(std::span<const char16_t> in) noexcept { return scalar::Utf8Length(in); } \
    std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept {        \
        return scalar::EncodeFromUtf16(in, out);                                                     \
    }                                                                                                \
    }
