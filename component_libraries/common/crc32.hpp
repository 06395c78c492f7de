// CRC-32 (the IEEE 802.3 polynomial that zip, PNG and Python's zlib.crc32 use), for the frame
// checksums of the map-areas UI.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kivfld::components {

namespace crc32_detail {

constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
        table[i] = value;
    }
    return table;
}

inline constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace crc32_detail

/// CRC-32 of `size` bytes at `data`; 0 for none.
inline std::uint32_t Crc32(const unsigned char* data, std::size_t size) noexcept {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = crc32_detail::kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace kivfld::components
