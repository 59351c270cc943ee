#include "host/host_file.h"

#include <cerrno>
#include <cstring>
#include <random>

// A name that no earlier run and no other tool is likely to hold; creating it exclusively makes
// sure of it.
std::filesystem::path TemporaryFile::RandomName() {
  static std::random_device device;
  static std::mt19937_64 generator((std::uint64_t{device()} << 32) ^ device());
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = "drelix-pack-";
  std::uint64_t bits = generator();
  for (int digit = 0; digit < 12; ++digit, bits >>= 4) name += kDigits[bits & 15];
  return name + ".tmp";
}

std::filesystem::path TemporaryFile::FolderOf(const std::filesystem::path& directory) {
  return directory.empty() ? std::filesystem::path(".") : directory;
}

std::string SystemReason() { return std::strerror(errno); }
