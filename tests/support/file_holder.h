// A file held open by a process of its own, the way a scanner or indexer holds what it looks at,
// until the test lets go. The holder is file_holder.exe, built beside the test executables.
#pragma once

#include <windows.h>

#include <string>

class FileHolder {
 public:
  // Returns once the file is held, or the holder could not hold it (see Holding).
  FileHolder(const std::wstring& path, DWORD share);
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;
  ~FileHolder();

  bool Holding() const { return holding_; }

  // Returns once the process has closed the file and ended.
  void Release();

 private:
  HANDLE ready_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE process_ = nullptr;
  bool holding_ = false;
};
