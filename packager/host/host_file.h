// Files on either host, named by UTF-8 paths: non-ASCII names work on Windows too (through the
// wide-character calls), and offsets are 64-bit everywhere, so payloads beyond 2 GiB can be read.
// Each host has its source: host_file_linux.cpp and host_file_windows.cpp.
//
// The tool reads a user's release files and replaces one file of theirs, so every file it touches
// goes through here: inputs are opened only when they are regular files, without ever blocking on a
// FIFO or a device; what --output names is examined first, so it can be compared with every input
// by identity (device and inode, or volume serial and file index) before anything is written; and
// the output is written to a file created new in the output's folder, that no existing name (nor a
// symbolic link) can ever be, and that is gone again if the run stops before it is moved into place.
#pragma once

#include <cstddef>
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

[[nodiscard]] bool SeekFile(std::FILE* file, std::uint64_t offset);
std::optional<std::uint64_t> PositionInFile(std::FILE* file);
// The C library's text for the last failed call (errno).
std::string SystemReason();
// Leaves the position at the start of the file.
std::optional<std::uint64_t> SizeOfOpenFile(std::FILE* file);

// Which file a name leads to: the same identity is the same file, whatever the names.
struct FileIdentity {
  std::uint64_t device = 0;  // volume serial number on Windows
  std::uint64_t index = 0;   // inode, or file index on Windows
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An input, open for reading at its start.
struct InputFile {
  UniqueFile file;
  std::uint64_t size = 0;
  FileIdentity identity;
  std::int64_t modified = 0;  // seconds since 1970, UTC
};

// Opens `path` only when it is a regular file. Otherwise `reason` completes a sentence about the
// file ("does not exist or cannot be read", "is not a regular file (...)").
std::optional<InputFile> OpenInputFile(const std::filesystem::path& path, std::string& reason);

// What --output names before it is replaced: nothing, or a regular file (a symbolic link is
// replaced itself, and leads to its target for the identity).
struct OutputTarget {
  bool exists = false;
  FileIdentity identity;
  std::uint32_t mode = 0;  // permission bits of the file replaced (POSIX hosts)
};
// False with `reason` (as for OpenInputFile) when `path` names a directory, a device, a FIFO or
// anything else that is not a regular file, or cannot be examined.
[[nodiscard]] bool ExamineOutput(const std::filesystem::path& path, OutputTarget& target, std::string& reason);

// A new file in a folder, open for reading and writing. Linux makes it without a name (O_TMPFILE)
// where the file system allows, so not even kill -9 leaves it behind; elsewhere it gets a fresh
// random name, created exclusively without following links, removed on SIGINT, SIGTERM and SIGHUP
// (Windows: marked for deletion on close until it is moved into place). Removed when the owner goes
// away unless it was moved into place first.
class TemporaryFile {
 public:
  // Null with a one-line reason when the folder does not take a new file.
  static std::unique_ptr<TemporaryFile> Create(const std::filesystem::path& directory, std::string& error);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  std::FILE* File() const { return file_.get(); }
  // Gives the file `mode` (POSIX permission bits; not used on Windows), closes it and puts it in
  // place of `destination` in one rename; afterwards nothing is left to remove.
  [[nodiscard]] bool MoveTo(const std::filesystem::path& destination, std::uint32_t mode, std::string& error);

  // The mode a new file gets here: 0666 less the process's umask (0 on Windows).
  static std::uint32_t DefaultMode();

 private:
  TemporaryFile() = default;
  static constexpr int kNameTries = 16;
  static std::filesystem::path RandomName();
  static std::filesystem::path FolderOf(const std::filesystem::path& directory);
  // Create's failure: `error` says which folder would not take a new file, and why.
  std::nullptr_t CreateFailed(const std::string& reason, std::string& error) const;
#ifndef _WIN32
  bool Name(std::string& error);
#endif
  void Forget();

  UniqueFile file_;
  std::filesystem::path directory_;
  std::filesystem::path name_;              // empty while the file has no name
  [[maybe_unused]] int cleanup_slot_ = -1;  // where the signal handler finds the name (Linux only)
};
