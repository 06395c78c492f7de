// UTF-8 <-> UTF-16 conversion: a scalar reference and SIMD kernels (SSE2, AVX2, AVX-512) that
// must match it unit for unit. The plain functions run the fastest kernel this CPU supports,
// chosen once per process.
//
// Decoding replaces every maximal invalid subsequence with one U+FFFD (Unicode 3.9, as browsers
// do); encoding replaces every lone surrogate with U+FFFD. Zero bytes and units are ordinary text.
// Each Length function counts exactly what the matching conversion writes, so callers can size
// the destination once and convert in a second pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zul::text::utf8 {

/// Returned by the conversions when `out` is too small; nothing past `out` is touched then.
inline constexpr std::size_t kNoFit = SIZE_MAX;

/// UTF-16 units that DecodeToUtf16 produces for `in`.
std::size_t Utf16Length(std::span<const char> in) noexcept;
/// Writes the UTF-16 form of `in` to `out`; returns the units written or kNoFit.
std::size_t DecodeToUtf16(std::span<const char> in, std::span<char16_t> out) noexcept;

/// UTF-8 bytes that EncodeFromUtf16 produces for `in`.
std::size_t Utf8Length(std::span<const char16_t> in) noexcept;
/// Writes the UTF-8 form of `in` to `out`; returns the bytes written or kNoFit.
std::size_t EncodeFromUtf16(std::span<const char16_t> in, std::span<char> out) noexcept;

/// Bytes before the first one above 0x7F (all of them for ASCII text).
std::size_t AsciiPrefixLength(std::span<const char> in) noexcept;
/// Units before the first one above U+007F.
std::size_t AsciiPrefixLength(std::span<const char16_t> in) noexcept;

/// One implementation of the four conversions above.
enum class Kernel : std::uint8_t {
    Scalar,  ///< the reference: byte at a time, with 8-byte ASCII blocks
    Sse2,    ///< x86-64 baseline: SIMD ASCII runs, scalar elsewhere
    Avx2,    ///< AVX2 + BMI2: SIMD validation and conversion of 32-byte blocks
    Avx512,  ///< AVX-512 BW/VL/VBMI/VBMI2 + BMI2: 64-byte blocks, compress stores, masked tails
};

struct KernelFunctions {
    const char* name;
    std::size_t (*utf16Length)(std::span<const char> in) noexcept;
    std::size_t (*decodeToUtf16)(std::span<const char> in, std::span<char16_t> out) noexcept;
    std::size_t (*utf8Length)(std::span<const char16_t> in) noexcept;
    std::size_t (*encodeFromUtf16)(std::span<const char16_t> in, std::span<char> out) noexcept;
};

/// Whether this CPU (and its operating system) can run `kernel`.
bool KernelSupported(Kernel kernel) noexcept;
/// The functions of `kernel`; calling them on a CPU that does not support it is undefined.
const KernelFunctions& KernelFor(Kernel kernel) noexcept;
/// The kernel that the plain functions run: the fastest supported one.
Kernel ActiveKernel() noexcept;

}  // namespace zul::text::utf8
