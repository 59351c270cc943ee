// Files on either host, named by UTF-8 paths: non-ASCII names work on Windows too (through the
// wide-character calls), and offsets are 64-bit everywhere, so payloads beyond 2 GiB can be read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::filesystem::path PathFromUtf8(const std::string& path);
std::string Utf8FromPath(const std::filesystem::path& path);

// mode is "rb" or "wb".
UniqueFile OpenFile(const std::filesystem::path& path, const char* mode);
[[nodiscard]] bool SeekFile(std::FILE* file, std::uint64_t offset);
// Leaves the position at the start of the file.
std::optional<std::uint64_t> SizeOfOpenFile(std::FILE* file);

// Seconds since 1970 (UTC) of the file's last modification.
std::optional<std::int64_t> ModificationTime(const std::filesystem::path& path);

// A file being written beside its final path: removed when the owner goes away, unless it was
// moved into place first. A refused or failed run therefore leaves neither file behind.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  const std::filesystem::path& Path() const { return path_; }
  // Replaces `destination` with this file; afterwards nothing is left to remove.
  [[nodiscard]] bool MoveTo(const std::filesystem::path& destination, std::string& error);

 private:
  std::filesystem::path path_;
  bool moved_ = false;
};
