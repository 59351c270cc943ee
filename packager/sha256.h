// SHA-256 for the packaging tool, through a well-kept library: OpenSSL's libcrypto on Linux (which
// uses the CPU's SHA extensions where it has them), the system's BCrypt on Windows. A payload is
// hashed as it is read once, in pieces, without holding it in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256, fed in pieces of any size. The library cannot fail on a valid object but for want of
// memory or a broken installation of it; then the tool says which call failed and aborts, since a
// wrong digest must never be printed.
class Sha256 {
 public:
  Sha256() noexcept;
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size) noexcept;
  std::array<std::uint8_t, 32> Finish() noexcept;  // the object is spent afterwards

 private:
  void* context_ = nullptr;  // the library's hash state: an EVP_MD_CTX or a BCRYPT_HASH_HANDLE
};

std::string HexDigest(const std::array<std::uint8_t, 32>& digest);  // lower-case hex
