// The hashes through the host's library: OpenSSL's EVP interface on Linux (its low-level SHA256_*
// calls are deprecated since 3.0), BCrypt's hash objects on Windows. Either way the library picks
// the fastest code the CPU runs.
#include "signature/message_digest.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h uses its types.
#include <bcrypt.h>

namespace {

[[noreturn]] void LibraryFailed(const char* call, NTSTATUS status) noexcept {
  std::fprintf(stderr, "drelix-pack: BCrypt's %s failed (NTSTATUS 0x%08lx); cannot compute a digest\n", call,
               static_cast<unsigned long>(status));
  std::abort();
}

bool Succeeded(NTSTATUS status) noexcept { return status >= 0; }

BCRYPT_ALG_HANDLE OpenProvider(const wchar_t* name) noexcept {
  BCRYPT_ALG_HANDLE opened = nullptr;
  const NTSTATUS status = BCryptOpenAlgorithmProvider(&opened, name, nullptr, 0);
  if (!Succeeded(status)) LibraryFailed("BCryptOpenAlgorithmProvider", status);
  return opened;
}

// Each provider is opened once and kept for the life of the process: every hash object is made
// from it, and it must outlive them.
BCRYPT_ALG_HANDLE Provider(DigestAlgorithm algorithm) noexcept {
  switch (algorithm) {
    case DigestAlgorithm::sha1: {
      static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_SHA1_ALGORITHM);
      return provider;
    }
    case DigestAlgorithm::sha256: {
      static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_SHA256_ALGORITHM);
      return provider;
    }
    case DigestAlgorithm::sha384: {
      static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_SHA384_ALGORITHM);
      return provider;
    }
    case DigestAlgorithm::sha512:
      break;
  }
  static const BCRYPT_ALG_HANDLE provider = OpenProvider(BCRYPT_SHA512_ALGORITHM);
  return provider;
}

}  // namespace

MessageDigest::MessageDigest(DigestAlgorithm algorithm) noexcept {
  // With no buffer given, BCrypt keeps the hash object's memory itself (Windows 7 and later).
  BCRYPT_HASH_HANDLE hash = nullptr;
  const NTSTATUS status = BCryptCreateHash(Provider(algorithm), &hash, nullptr, 0, nullptr, 0, 0);
  if (!Succeeded(status)) LibraryFailed("BCryptCreateHash", status);
  context_ = hash;
}

MessageDigest::~MessageDigest() { BCryptDestroyHash(context_); }

void MessageDigest::Update(const void* data, std::size_t size) noexcept {
  // BCryptHashData takes a 32-bit length, and a non-const pointer that it only reads through.
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  while (size != 0) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, std::size_t{1} << 30));
    const NTSTATUS status = BCryptHashData(context_, bytes, piece, 0);
    if (!Succeeded(status)) LibraryFailed("BCryptHashData", status);
    bytes += piece;
    size -= piece;
  }
}

std::vector<std::uint8_t> MessageDigest::Finish() noexcept {
  DWORD length = 0;
  ULONG written = 0;
  NTSTATUS status =
      BCryptGetProperty(context_, BCRYPT_HASH_LENGTH, reinterpret_cast<UCHAR*>(&length), sizeof length, &written, 0);
  if (!Succeeded(status)) LibraryFailed("BCryptGetProperty", status);
  std::vector<std::uint8_t> digest(length);
  status = BCryptFinishHash(context_, digest.data(), length, 0);
  if (!Succeeded(status)) LibraryFailed("BCryptFinishHash", status);
  return digest;
}

#else
#include <openssl/err.h>
#include <openssl/evp.h>

namespace {

[[noreturn]] void LibraryFailed(const char* call) noexcept {
  char reason[256] = "no reason given";
  if (const unsigned long code = ERR_get_error(); code != 0) ERR_error_string_n(code, reason, sizeof reason);
  std::fprintf(stderr, "drelix-pack: OpenSSL's %s failed (%s); cannot compute a digest\n", call, reason);
  std::abort();
}

EVP_MD_CTX* Context(void* context) noexcept { return static_cast<EVP_MD_CTX*>(context); }

const EVP_MD* Algorithm(DigestAlgorithm algorithm) noexcept {
  switch (algorithm) {
    case DigestAlgorithm::sha1:
      return EVP_sha1();
    case DigestAlgorithm::sha256:
      return EVP_sha256();
    case DigestAlgorithm::sha384:
      return EVP_sha384();
    case DigestAlgorithm::sha512:
      break;
  }
  return EVP_sha512();
}

}  // namespace

MessageDigest::MessageDigest(DigestAlgorithm algorithm) noexcept : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr) LibraryFailed("EVP_MD_CTX_new");
  if (EVP_DigestInit_ex(Context(context_), Algorithm(algorithm), nullptr) != 1) LibraryFailed("EVP_DigestInit_ex");
}

MessageDigest::~MessageDigest() { EVP_MD_CTX_free(Context(context_)); }

void MessageDigest::Update(const void* data, std::size_t size) noexcept {
  if (size != 0 && EVP_DigestUpdate(Context(context_), data, size) != 1) LibraryFailed("EVP_DigestUpdate");
}

std::vector<std::uint8_t> MessageDigest::Finish() noexcept {
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(Context(context_), digest.data(), &size) != 1) LibraryFailed("EVP_DigestFinal_ex");
  digest.resize(size);
  return digest;
}

#endif

bool MessageDigest::UpdateFrom(ByteSource& source, std::uint64_t offset, std::uint64_t size) {
  constexpr std::size_t kPieceSize = 1 << 20;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, size)));
  for (std::uint64_t done = 0; done < size;) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
    if (!source.Read(offset + done, buffer.data(), piece)) return false;
    Update(buffer.data(), piece);
    done += piece;
  }
  return true;
}

std::string HexDigest(std::span<const std::uint8_t> digest) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0f];
  }
  return text;
}
