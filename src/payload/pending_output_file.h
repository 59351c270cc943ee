// An output file that is either completed or vanishes: it is opened with delete access, so a writer
// that fails midway marks it for deletion through its own handle and the file system removes it at
// close. While open, only delete access is shared: nobody can read or swap a half-written file.
#pragma once

#include <windows.h>

#include "handles/unique_handle.h"
#include "payload/memory_block.h"
#include "strings/bounded_wide_string.h"

class PendingOutputFile {
 public:
  PendingOutputFile() noexcept = default;
  PendingOutputFile(const PendingOutputFile&) = delete;
  PendingOutputFile& operator=(const PendingOutputFile&) = delete;
  ~PendingOutputFile() { Close(); }

  // Creates or truncates the file; an open file is closed first, not deleted.
  [[nodiscard]] bool Open(const wchar_t* file_path) noexcept;
  // Closing never deletes by itself; only a file marked before is removed.
  void Close() noexcept;
  [[nodiscard]] bool IsOpen() const noexcept { return handle_.IsValid(); }
  [[nodiscard]] bool MarkForDeletion() noexcept;
  // A second handle with the same access, owned and closed by the caller.
  [[nodiscard]] HANDLE Duplicate() noexcept;
  [[nodiscard]] HANDLE Handle() const noexcept { return handle_.Get(); }
  [[nodiscard]] const wchar_t* Path() const noexcept { return path_.units; }

 private:
  PathBuffer path_;
  UniqueFileHandle handle_;
};

// Writes block to a new file at file_path in chunks of at most 8 MiB straight from block's memory.
// On false no file is left and the last error is that of the failed CreateFileW or WriteFile.
[[nodiscard]] bool WriteBlockToFile(const MemoryBlock& block, const wchar_t* file_path) noexcept;
