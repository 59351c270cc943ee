// Files and directories for tests: a private temporary directory that is removed with everything
// in it, and small helpers to write, read and list files.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// The directory of the running test executable, with a trailing backslash; fixtures are built there.
std::wstring ProgramDirectory();

// An installer or fixture from beside the test executable, mapped as an image resource: its resources
// are real and nothing of it runs. Empty when it cannot be loaded (the error is left for GetLastError).
struct ModuleRelease {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using LoadedModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleRelease>;
LoadedModule LoadFixture(const std::wstring& file_name);

// The bytes of a file of the payload fixture directory (payload_fixtures beside the test executable).
std::string PayloadFixture(const std::wstring& name);

// The bytes of a resource of a loaded module, or "(missing)" when it has none of that type and name.
std::string ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name);

// The root ("r:\") of the really full volume that with_full_volume.sh provides, or empty with the
// reason there is none.
std::wstring FullVolumeRoot(std::string& unavailable_reason);

// A fresh directory under the temporary folder; removed with its contents when the scope ends.
class TemporaryDirectory {
 public:
  // name_hint is part of the directory name, so non-ASCII paths can be tested too.
  explicit TemporaryDirectory(const std::wstring& name_hint = L"test");
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory();

  // With a trailing backslash.
  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

// Removes a file or a directory tree, clearing read-only attributes first. True when nothing is left.
bool RemoveTree(const std::wstring& path);

bool PathExists(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool CopyFileTo(const std::wstring& source, const std::wstring& destination);
// Names in a directory, without "." and "..", sorted.
std::vector<std::wstring> ListDirectory(const std::wstring& directory);

// The names of the scratch directories ("QV_...") in a directory, sorted.
std::vector<std::wstring> ScratchDirectoryNames(const std::wstring& directory);

// The command lines the sample setup program recorded in its record file, in the order of its runs.
std::vector<std::string> RecordedCommandLines(const std::wstring& record_path);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
