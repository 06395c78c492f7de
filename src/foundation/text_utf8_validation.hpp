// The byte-pair error classes of UTF-8 validation shared by the SIMD kernels: three 16-entry
// tables that a kernel broadcasts to every 128-bit lane of its registers.
#pragma once

namespace zul::text::utf8::detail::validation {

// Error classes of a byte pair, as bits: looked up by the high nibble of the first byte, its low
// nibble, and the high nibble of the second byte; a pair is invalid when all three share a bit.
constexpr unsigned char kTooShort = 1 << 0;      // lead followed by ASCII or another lead
constexpr unsigned char kTooLong = 1 << 1;       // ASCII followed by a continuation
constexpr unsigned char kOverlong3 = 1 << 2;     // E0 80..9F
constexpr unsigned char kTooLarge = 1 << 3;      // F4 90..BF, F5..FF 90..BF
constexpr unsigned char kSurrogate = 1 << 4;     // ED A0..BF
constexpr unsigned char kOverlong2 = 1 << 5;     // C0, C1 followed by a continuation
constexpr unsigned char kTooLarge1000 = 1 << 6;  // F5..FF 80..8F
constexpr unsigned char kOverlong4 = 1 << 6;     // F0 80..8F
constexpr unsigned char kTwoContinuations = 1 << 7;
constexpr unsigned char kCarry = kTooShort | kTooLong | kTwoContinuations;

alignas(16) constexpr unsigned char kFirstHigh[16] = {
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTwoContinuations,
    kTwoContinuations,
    kTwoContinuations,
    kTwoContinuations,
    kTooShort | kOverlong2,
    kTooShort,
    kTooShort | kOverlong3 | kSurrogate,
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
};
alignas(16) constexpr unsigned char kFirstLow[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,
    kCarry | kOverlong2,
    kCarry,
    kCarry,
    kCarry | kTooLarge,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
};
alignas(16) constexpr unsigned char kSecondHigh[16] = {
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge1000 | kOverlong4,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge,
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
};

}  // namespace zul::text::utf8::detail::validation
