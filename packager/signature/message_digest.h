// The hash functions a signature may name (SHA-1 and the SHA-2 family), through a well-kept
// library: OpenSSL's libcrypto on Linux, the system's BCrypt on Windows. Data is hashed in pieces
// of any size as it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/byte_source.h"

enum class DigestAlgorithm { sha1, sha256, sha384, sha512 };

// A hash in progress. The library cannot fail on a valid object but for want of memory or a broken
// installation of it; then the tool says which call failed and aborts, since a wrong digest must
// never be printed.
class MessageDigest {
 public:
  explicit MessageDigest(DigestAlgorithm algorithm) noexcept;
  ~MessageDigest();
  MessageDigest(const MessageDigest&) = delete;
  MessageDigest& operator=(const MessageDigest&) = delete;

  void Update(const void* data, std::size_t size) noexcept;
  // Hashes `size` bytes of `source` from `offset`, read in pieces; false when they cannot be read.
  [[nodiscard]] bool UpdateFrom(ByteSource& source, std::uint64_t offset, std::uint64_t size);
  std::vector<std::uint8_t> Finish() noexcept;  // the object is spent afterwards

 private:
  void* context_ = nullptr;  // the library's hash state: an EVP_MD_CTX or a BCRYPT_HASH_HANDLE
};

std::string HexDigest(std::span<const std::uint8_t> digest);  // lower-case hex
