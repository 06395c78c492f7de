// The scalar UTF-8 kernel, which is the reference, and the choice of kernel. Decoding counts
// with the very code that converts, so the passes agree on every invalid sequence.
#include "foundation/text_utf8.hpp"

#include <cstring>

#include "foundation/text_utf8_kernels.hpp"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace zul::text::utf8 {
namespace detail::scalar {
namespace {

constexpr std::uint64_t kByteHighBits = 0x8080808080808080u;
constexpr std::uint64_t kUnitNonAsciiBits = 0xFF80FF80FF80FF80u;

inline std::uint64_t Load64(const void* p) noexcept {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
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
        // One character.
        if (!DecodeCharactersUntil<Write>(in, n, i, i + 1, out, capacity, o)) return kNoFit;
    }
    return o;
}

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
        // One character.
        if (!EncodeCharactersUntil(in, n, i, i + 1, out, capacity, o)) return kNoFit;
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

}  // namespace detail::scalar

namespace {

constexpr KernelFunctions kKernels[] = {
    {"scalar", detail::scalar::Utf16Length, detail::scalar::DecodeToUtf16, detail::scalar::Utf8Length,
     detail::scalar::EncodeFromUtf16},
    {"sse2", detail::sse2::Utf16Length, detail::sse2::DecodeToUtf16, detail::sse2::Utf8Length,
     detail::sse2::EncodeFromUtf16},
    {"avx2", detail::avx2::Utf16Length, detail::avx2::DecodeToUtf16, detail::avx2::Utf8Length,
     detail::avx2::EncodeFromUtf16},
    {"avx512", detail::avx512::Utf16Length, detail::avx512::DecodeToUtf16, detail::avx512::Utf8Length,
     detail::avx512::EncodeFromUtf16},
};

Kernel Fastest() noexcept {
    for (Kernel kernel : {Kernel::Avx512, Kernel::Avx2, Kernel::Sse2})
        if (KernelSupported(kernel)) return kernel;
    return Kernel::Scalar;
}

// Chosen during static initialization, before main and before any thread of ours; a conversion
// that runs even earlier (from another static initializer) takes the reference.
constinit const KernelFunctions* g_active = &kKernels[static_cast<int>(Kernel::Scalar)];
[[maybe_unused]] const bool g_activeChosen = (g_active = &KernelFor(Fastest()), true);

}  // namespace

// SSE2 is enough here: the scan is as fast as the loads, whatever the width.
std::size_t AsciiPrefixLength(std::span<const char> in) noexcept {
    const char* p = in.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
#if defined(__x86_64__)
    for (; n - i >= 16; i += 16) {
        const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (high != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high)));
    }
#endif
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80) ++i;
    return i;
}

std::size_t AsciiPrefixLength(std::span<const char16_t> in) noexcept {
    const char16_t* p = in.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
#if defined(__x86_64__)
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; n - i >= 8; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const unsigned ascii =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, nonAscii), _mm_setzero_si128())));
        if (ascii != 0xFFFF) return i + static_cast<std::size_t>(__builtin_ctz(~ascii)) / 2;
    }
#endif
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

bool KernelSupported(Kernel kernel) noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    switch (kernel) {
        case Kernel::Scalar:
        case Kernel::Sse2:
            return true;
        case Kernel::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
        case Kernel::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
                   __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
    }
    return false;
#else
    return kernel == Kernel::Scalar;
#endif
}

const KernelFunctions& KernelFor(Kernel kernel) noexcept { return kKernels[static_cast<int>(kernel)]; }

Kernel ActiveKernel() noexcept { return static_cast<Kernel>(g_active - kKernels); }

std::size_t Utf16Length(std::span<const char> in) noexcept { return g_active->utf16Length(in); }

std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept {
    return g_active->decodeToUtf16(in, out);
}

std::size_t Utf8Length(std::span<const char16_t> in) noexcept { return g_active->utf8Length(in); }

std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept {
    return g_active->encodeFromUtf16(in, out);
}

}  // namespace zul::text::utf8
