// FIPS 180-4 SHA-256 for the packaging tool: the digest of a payload that is read once, in pieces,
// without holding it in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// FIPS 180-4 SHA-256, fed in pieces of any size.
class Sha256 {
 public:
  void Update(const void* data, std::size_t size) noexcept;
  std::array<std::uint8_t, 32> Finish() noexcept;  // the object is spent afterwards

 private:
  void CompressBlock(const std::uint8_t* block) noexcept;

  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<std::uint8_t, 64> pending_block_ = {};
  std::size_t pending_size_ = 0;
  std::uint64_t message_size_ = 0;
};

std::string HexDigest(const std::array<std::uint8_t, 32>& digest);  // lower-case hex
