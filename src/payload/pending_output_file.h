// An output file that is either completed or vanishes. It is marked for deletion the moment it is
// created and the mark is cleared only when it is complete, so a failed writer, and a process killed
// midway (an updater that times out, a reboot), leave no partial file behind. It is never opened
// over an existing file, and while open only delete access is shared: nobody can read or swap a
// half-written file.
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

  // Creates a new file, marked for deletion; an existing file of that name is refused
  // (ERROR_FILE_EXISTS). An open file is closed first.
  [[nodiscard]] bool Open(const wchar_t* file_path) noexcept;
  // Clears the mark and closes: the file stays. On false the file is gone and the error is kept.
  [[nodiscard]] bool Complete() noexcept;
  // Closes without completing: a file still marked is removed.
  void Close() noexcept;
  [[nodiscard]] bool IsOpen() const noexcept { return handle_.IsValid(); }
  // A second handle with the same access, owned and closed by the caller.
  [[nodiscard]] HANDLE Duplicate() noexcept;
  [[nodiscard]] HANDLE Handle() const noexcept { return handle_.Get(); }
  [[nodiscard]] const wchar_t* Path() const noexcept { return path_.units; }

 private:
  [[nodiscard]] bool SetDeletion(bool delete_file) noexcept;

  PathBuffer path_;
  UniqueFileHandle handle_;
};

// Writes block to a new file at file_path in chunks of at most 8 MiB straight from block's memory.
// On false no file is left and the last error is that of the failed CreateFileW or WriteFile.
[[nodiscard]] bool WriteBlockToFile(const MemoryBlock& block, const wchar_t* file_path) noexcept;
