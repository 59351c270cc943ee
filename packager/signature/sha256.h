// SHA-256 for the packaging tool, through a well-kept library (message_digest.h: OpenSSL's libcrypto
// on Linux, which uses the CPU's SHA extensions where it has them, the system's BCrypt on Windows).
// A payload is hashed as it is read once, in pieces, without holding it in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "signature/message_digest.h"

// SHA-256, fed in pieces of any size; a failing library aborts the tool (message_digest.h).
class Sha256 {
 public:
  Sha256() noexcept : digest_(DigestAlgorithm::sha256) {}

  void Update(const void* data, std::size_t size) noexcept { digest_.Update(data, size); }
  [[nodiscard]] bool UpdateFrom(ByteSource& source, std::uint64_t offset, std::uint64_t size) {
    return digest_.UpdateFrom(source, offset, size);
  }
  std::array<std::uint8_t, 32> Finish() noexcept;  // the object is spent afterwards

 private:
  MessageDigest digest_;
};
