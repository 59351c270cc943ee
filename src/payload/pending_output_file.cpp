#include "payload/pending_output_file.h"

namespace {

constexpr uint64_t kWriteChunkBytes = uint64_t{8} * 1024 * 1024;

}  // namespace

bool PendingOutputFile::Open(const wchar_t* file_path) noexcept {
  Close();
  if (!BoundedCopy(path_, file_path)) return false;
  // A new file only: in a fresh scratch directory a name that exists was planted by someone else, and
  // following it could write through their link.
  *handle_.Put() = CreateFileW(path_.units, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!handle_.IsValid()) {
    path_.units[0] = 0;
    return false;
  }
  if (!SetDeletion(true)) {
    const DWORD error = GetLastError();
    Close();
    SetLastError(error);
    return false;
  }
  return true;
}

bool PendingOutputFile::Complete() noexcept {
  if (!IsOpen()) return false;
  const bool kept = SetDeletion(false);
  const DWORD error = GetLastError();
  Close();
  SetLastError(error);
  return kept;
}

void PendingOutputFile::Close() noexcept {
  handle_.Reset();
  path_.units[0] = 0;
}

bool PendingOutputFile::SetDeletion(bool delete_file) noexcept {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(delete_file ? TRUE : FALSE)};
  return SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

HANDLE PendingOutputFile::Duplicate() noexcept {
  if (!IsOpen()) return INVALID_HANDLE_VALUE;
  HANDLE copy = INVALID_HANDLE_VALUE;
  const HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, handle_.Get(), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return copy;
}

bool WriteBlockToFile(const MemoryBlock& block, const wchar_t* file_path) noexcept {
  PendingOutputFile output;
  if (!output.Open(file_path)) return false;

  // A write may succeed having taken only part of a chunk (a volume filling up does that): the rest
  // is written again, and a write that takes nothing at all is a failure.
  const auto* data = static_cast<const unsigned char*>(block.data);
  uint64_t offset = 0;
  while (offset < block.size) {
    const uint64_t remaining = block.size - offset;
    const DWORD chunk = static_cast<DWORD>(remaining < kWriteChunkBytes ? remaining : kWriteChunkBytes);
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (!WriteFile(output.Handle(), data + offset, chunk, &written, nullptr)) {
      error = GetLastError();
    } else if (written == 0) {
      error = ERROR_WRITE_FAULT;
    }
    if (error != ERROR_SUCCESS) {
      output.Close();
      SetLastError(error);
      return false;
    }
    offset += written;
  }
  return output.Complete();
}
