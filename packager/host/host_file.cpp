#include "host/host_file.h"

#include <cerrno>
#include <cstring>
#include <random>

#ifndef _WIN32
#include <sys/types.h>
#endif

#include "encoding/escaped_text.h"

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

std::nullptr_t TemporaryFile::CreateFailed(const std::string& reason, std::string& error) const {
  error = "cannot create a file in the output's folder " + Quoted(Utf8FromPath(directory_)) + ": " + reason;
  return nullptr;
}

std::string SystemReason() { return std::strerror(errno); }

namespace {

// The C library's seek and tell with 64-bit offsets, which Windows' library names differently.
int SeekStream(std::FILE* file, std::int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(file, offset, origin);
#else
  return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

std::int64_t TellStream(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return ftello(file);
#endif
}

}  // namespace

bool SeekFile(std::FILE* file, std::uint64_t offset) {
  return SeekStream(file, static_cast<std::int64_t>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> PositionInFile(std::FILE* file) {
  const std::int64_t position = TellStream(file);
  if (position < 0) return std::nullopt;
  return static_cast<std::uint64_t>(position);
}

std::optional<std::uint64_t> SizeOfOpenFile(std::FILE* file) {
  if (SeekStream(file, 0, SEEK_END) != 0) return std::nullopt;
  const std::optional<std::uint64_t> size = PositionInFile(file);
  if (!size || !SeekFile(file, 0)) return std::nullopt;
  return size;
}
