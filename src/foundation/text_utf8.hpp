// Scalar UTF-8 <-> UTF-16 kernels: the reference that faster (SIMD) variants must match unit for unit.
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

}  // namespace zul::text::utf8
