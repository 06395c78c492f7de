// Scalar UTF-8 <-> UTF-16 kernels. Decoding counts with the very code that converts, so the
// passes agree on every invalid sequence.
#include "foundation/text_utf8.hpp"

#include <cstring>

namespace zul::text::utf8 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::uint64_t kByteHighBits = 0x8080808080808080u;
constexpr std::uint64_t kUnitNonAsciiBits = 0xFF80FF80FF80FF80u;

inline std::uint64_t Load64(const void* p) noexcept {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline bool IsContinuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }
inline bool InRange(unsigned char byte, unsigned char low, unsigned char high) noexcept {
    return byte >= low && byte <= high;
}

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

template <bool Write>
std::size_t Decode(std::span<const char> input, std::span<char16_t> output) noexcept {
    const auto* in = reinterpret_cast<const unsigned char*>(input.data());
    const std::size_t n = input.size();
    char16_t* out = output.data();
    const std::size_t capacity = output.size();
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        // Most text is ASCII runs: take them a block at a time.
        while (n - i >= 16 && ((Load64(in + i) | Load64(in + i + 8)) & kByteHighBits) == 0) {
            if constexpr (Write) {
                if (capacity - o < 16) return kNoFit;
                for (std::size_t k = 0; k < 16; ++k) out[o + k] = in[i + k];
            }
            i += 16;
            o += 16;
        }
        if (i == n) break;
        const Decoded d = DecodeOne(in + i, n - i);
        if (d.codePoint < 0x10000) {
            if constexpr (Write) {
                if (o == capacity) return kNoFit;
                out[o] = static_cast<char16_t>(d.codePoint);
            }
            o += 1;
        } else {
            if constexpr (Write) {
                if (capacity - o < 2) return kNoFit;
                const char32_t v = d.codePoint - 0x10000;
                out[o] = static_cast<char16_t>(0xD800 | (v >> 10));
                out[o + 1] = static_cast<char16_t>(0xDC00 | (v & 0x3FF));
            }
            o += 2;
        }
        i += d.length;
    }
    return o;
}

inline bool IsHighSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xD800; }
inline bool IsLowSurrogate(char16_t unit) noexcept { return (unit & 0xFC00) == 0xDC00; }

std::size_t Encode(std::span<const char16_t> input, std::span<char> output) noexcept {
    const char16_t* in = input.data();
    const std::size_t n = input.size();
    auto* out = reinterpret_cast<unsigned char*>(output.data());
    const std::size_t capacity = output.size();
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        while (n - i >= 8 && ((Load64(in + i) | Load64(in + i + 4)) & kUnitNonAsciiBits) == 0) {
            if (capacity - o < 8) return kNoFit;
            for (std::size_t k = 0; k < 8; ++k) out[o + k] = static_cast<unsigned char>(in[i + k]);
            i += 8;
            o += 8;
        }
        if (i == n) break;
        char32_t c = in[i];
        std::size_t consumed = 1;
        if (IsHighSurrogate(in[i]) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10 | (in[i + 1] - 0xDC00));
            consumed = 2;
        } else if (IsHighSurrogate(in[i]) || IsLowSurrogate(in[i])) {
            c = kReplacement;
        }
        const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (capacity - o < length) return kNoFit;
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
    return o;
}

}  // namespace

std::size_t Utf16Length(std::span<const char> in) noexcept { return Decode<false>(in, {}); }

std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept { return Decode<true>(in, out); }

// Branch-free so compilers vectorize it: every unit as if alone (1, 2 or 3 bytes, a lone surrogate
// being U+FFFD's 3), less 2 for each valid pair, which is 4 bytes rather than 3 + 3.
std::size_t Utf8Length(std::span<const char16_t> in) noexcept {
    const char16_t* p = in.data();
    const std::size_t n = in.size();
    std::size_t bytes = n;
    for (std::size_t i = 0; i < n; ++i) bytes += std::size_t{p[i] >= 0x80} + std::size_t{p[i] >= 0x800};
    for (std::size_t i = 0; i + 1 < n; ++i) bytes -= 2 * std::size_t{IsHighSurrogate(p[i]) && IsLowSurrogate(p[i + 1])};
    return bytes;
}

std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept { return Encode(in, out); }

}  // namespace zul::text::utf8
