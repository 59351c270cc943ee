// Reading and writing the little-endian fields of PE and resource structures in byte buffers.
#pragma once

#include <cstdint>
#include <vector>

inline std::uint16_t ReadUint16(const std::uint8_t* bytes) noexcept {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t ReadUint32(const std::uint8_t* bytes) noexcept {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint64_t ReadUint64(const std::uint8_t* bytes) noexcept {
  return ReadUint32(bytes) | std::uint64_t{ReadUint32(bytes + 4)} << 32;
}

inline void WriteUint16(std::uint8_t* bytes, std::uint16_t value) noexcept {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteUint32(std::uint8_t* bytes, std::uint32_t value) noexcept {
  for (int index = 0; index < 4; ++index) bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
}

inline void AppendUint16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void AppendUint32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  AppendUint16(bytes, static_cast<std::uint16_t>(value));
  AppendUint16(bytes, static_cast<std::uint16_t>(value >> 16));
}
