#include "cleanup/removal.h"

#include <windows.h>

#include "conventions/held_file_retry.h"
#include "handles/unique_handle.h"

namespace {

// Shares everything so that the routine itself never refuses another handle; backup semantics open
// directories, and a reparse point is opened as itself.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kOpenFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

UniqueFileHandle OpenExisting(const wchar_t* path, DWORD access) noexcept {
  return UniqueFileHandle(CreateFileW(path, access, kShareAll, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
}

// A read-only file refuses its delete disposition; clearing the bit (and writing the times back as
// they were) lets the next pass remove it.
bool ClearReadOnlyAttribute(const wchar_t* path) noexcept {
  UniqueFileHandle file = OpenExisting(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  if (!file.IsValid()) return false;
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof(basic))) return false;
  if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
  basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// One open-and-mark; returns 0 when marked, otherwise the error that stopped it.
DWORD MarkForDeletion(const wchar_t* path) noexcept {
  UniqueFileHandle file = OpenExisting(path, DELETE);
  if (!file.IsValid()) return GetLastError();
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool RemoveWithRetries(const wchar_t* path) noexcept {
  int try_count = 1;
  bool marked_last_pass = false;
  for (;;) {
    // A successful mark is not the end: only an open that finds nothing proves the object gone,
    // since another process's handle keeps it in place until that handle closes. Windows refuses
    // opens of an object that is pending deletion, so marking twice in a row means a platform that
    // lets them through (Wine does); that counts as a try, so the loop never spins unbounded.
    const DWORD error = MarkForDeletion(path);
    const bool marked_twice = error == ERROR_SUCCESS && marked_last_pass;
    marked_last_pass = error == ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && !marked_twice) continue;
    switch (error) {
      case ERROR_SUCCESS:
        break;
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        return true;
      case ERROR_ACCESS_DENIED:
        if (ClearReadOnlyAttribute(path)) continue;
        break;
      case ERROR_SHARING_VIOLATION:
      case ERROR_DIR_NOT_EMPTY:
        break;
      default:
        return false;
    }
    if (try_count == kHeldFileTries) return false;
    ++try_count;
    Sleep(kHeldFilePauseMilliseconds);
  }
}

void RemoveExtractedFiles(const PathBuffer& archive_path, const PathBuffer& setup_path,
                          const PathBuffer& scratch_directory, UniqueFileHandle& directory_guard) noexcept {
  if (BoundedLength(archive_path) != 0) RemoveWithRetries(archive_path.units);
  if (BoundedLength(setup_path) != 0) RemoveWithRetries(setup_path.units);
  directory_guard.Reset();
  RemoveWithRetries(scratch_directory.units);
}
