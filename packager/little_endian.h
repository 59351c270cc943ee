// Reading and writing the little-endian fields of PE and resource structures in byte buffers.
#pragma once

#include <cstdint>

inline std::uint16_t ReadUint16(const std::uint8_t* bytes) noexcept {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t ReadUint32(const std::uint8_t* bytes) noexcept {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void WriteUint16(std::uint8_t* bytes, std::uint16_t value) noexcept {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteUint32(std::uint8_t* bytes, std::uint32_t value) noexcept {
  for (int index = 0; index < 4; ++index) bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
}
