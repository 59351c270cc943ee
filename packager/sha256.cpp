// SHA-256 as FIPS 180-4 section 6.2 describes it, one 64-byte block at a time; bytes that do not
// yet fill a block wait in pending_block_ for the next Update or for the padding.
#include "sha256.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) noexcept {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
         std::uint32_t{bytes[3]};
}

}  // namespace

void Sha256::CompressBlock(const std::uint8_t* block) noexcept {
  std::array<std::uint32_t, 64> schedule;
  for (std::size_t t = 0; t < 16; ++t) {
    schedule[t] = ReadBigEndian32(block + 4 * t);
  }
  for (std::size_t t = 16; t < 64; ++t) {
    const std::uint32_t sigma0 =
        std::rotr(schedule[t - 15], 7) ^ std::rotr(schedule[t - 15], 18) ^ (schedule[t - 15] >> 3);
    const std::uint32_t sigma1 =
        std::rotr(schedule[t - 2], 17) ^ std::rotr(schedule[t - 2], 19) ^ (schedule[t - 2] >> 10);
    schedule[t] = sigma1 + schedule[t - 7] + sigma0 + schedule[t - 16];
  }

  auto [a, b, c, d, e, f, g, h] = state_;
  for (std::size_t t = 0; t < 64; ++t) {
    const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const std::uint32_t choose = (e & f) ^ (~e & g);
    const std::uint32_t temporary1 = h + sum1 + choose + kRoundConstants[t] + schedule[t];
    const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t temporary2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + temporary1;
    d = c;
    c = b;
    b = a;
    a = temporary1 + temporary2;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

void Sha256::Update(const void* data, std::size_t size) noexcept {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  message_size_ += size;
  if (pending_size_ > 0) {
    const std::size_t taken = std::min(size, pending_block_.size() - pending_size_);
    std::memcpy(pending_block_.data() + pending_size_, bytes, taken);
    pending_size_ += taken;
    bytes += taken;
    size -= taken;
    if (pending_size_ < pending_block_.size()) {
      return;
    }
    CompressBlock(pending_block_.data());
    pending_size_ = 0;
  }
  for (; size >= pending_block_.size(); bytes += 64, size -= 64) {
    CompressBlock(bytes);
  }
  if (size > 0) {
    std::memcpy(pending_block_.data(), bytes, size);
    pending_size_ = size;
  }
}

std::array<std::uint8_t, 32> Sha256::Finish() noexcept {
  // Padding: a 1 bit, zeros up to 56 bytes into a block, then the message length in bits.
  const std::uint64_t message_bits = message_size_ * 8;
  const std::uint8_t end_marker = 0x80;
  Update(&end_marker, 1);
  const std::array<std::uint8_t, 64> zeros = {};
  Update(zeros.data(), (pending_block_.size() + 56 - pending_size_) % pending_block_.size());
  std::array<std::uint8_t, 8> length_field;
  for (std::size_t i = 0; i < length_field.size(); ++i) {
    length_field[i] = static_cast<std::uint8_t>(message_bits >> (56 - 8 * i));
  }
  Update(length_field.data(), length_field.size());

  std::array<std::uint8_t, 32> digest;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
  }
  return digest;
}

std::string HexDigest(const std::array<std::uint8_t, 32>& digest) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0f];
  }
  return text;
}
