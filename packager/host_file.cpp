#include "host_file.h"

#include <chrono>
#include <system_error>

std::filesystem::path PathFromUtf8(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(_wfopen(path.c_str(), wide_mode.c_str()));
#else
  return UniqueFile(std::fopen(path.c_str(), mode));
#endif
}

bool SeekFile(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::optional<std::uint64_t> SizeOfOpenFile(std::FILE* file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
  const long long size = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
  const off_t size = ftello(file);
#endif
  if (size < 0 || !SeekFile(file, 0)) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

std::optional<std::int64_t> ModificationTime(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_time_type time = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  const auto system_time = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration_cast<std::chrono::seconds>(system_time.time_since_epoch()).count();
}

TemporaryFile::~TemporaryFile() {
  if (moved_) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

bool TemporaryFile::MoveTo(const std::filesystem::path& destination, std::string& error) {
  std::error_code failure;
  std::filesystem::rename(path_, destination, failure);
  if (failure) {
    error = "cannot move the finished file into place as \"" + Utf8FromPath(destination) + "\": " + failure.message();
    return false;
  }
  moved_ = true;
  return true;
}
