#include "signature/sha256.h"

#include <algorithm>

std::array<std::uint8_t, 32> Sha256::Finish() noexcept {
  const std::vector<std::uint8_t> bytes = digest_.Finish();
  std::array<std::uint8_t, 32> digest{};
  std::copy_n(bytes.begin(), digest.size(), digest.begin());
  return digest;
}
