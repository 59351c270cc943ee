#include "payload/cabinet_expansion.h"

#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdint>

#include "handles/unique_handle.h"
#include "payload/pending_output_file.h"
#include "strings/bounded_wide_string.h"

namespace {

using FdiCreateFunction = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int,
                                            PERF);
using FdiDestroyFunction = BOOL(DIAMONDAPI*)(HFDI);
using FdiCopyFunction = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);

// The cabinet library hands file names around in a narrow encoding with a byte limit of its own, so
// it is given this short fixed name, and the open callback opens the real UTF-16 path instead.
// FDICopy only reads the two texts, which stay constant so the image needs no writable data.
constexpr char kCabinetStandInName[] = "payload.cab";
constexpr char kCabinetStandInDirectory[] = "";

// Loaded once per process and kept: the run expands at most one cabinet, and a second load would
// only repeat the search.
constinit HMODULE cabinet_module = nullptr;
// The real path behind the stand-in name, for the length of one expansion; the open callback has no
// context of its own.
constinit const wchar_t* expanding_cabinet_path = nullptr;

// The record FDI hands back to every notification of one expansion. expected_size is the first
// file's size as the cabinet states it, checked against what reached the target.
struct ExpansionContext {
  const wchar_t* target_path;
  PendingOutputFile output;
  bool succeeded;
  uint64_t expected_size;
};

// Only the copy in the system directory, by its full path: neither the environment nor the current
// directory can name another one.
HMODULE LoadCabinetLibrary() noexcept {
  if (cabinet_module != nullptr) return cabinet_module;
  PathBuffer library_path;
  const UINT length = GetSystemDirectoryW(library_path.units, PathBuffer::capacity);
  if (length == 0 || length >= PathBuffer::capacity) return nullptr;
  if (!BoundedAppend(library_path, L"\\cabinet.dll")) return nullptr;
  cabinet_module = LoadLibraryExW(library_path.units, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return cabinet_module;
}

// GetProcAddress returns a generic function pointer; the export's real type is the caller's to know.
template <typename Function>
Function LookUp(HMODULE module, const char* name) noexcept {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void* DIAMONDAPI FdiAlloc(ULONG byte_count) noexcept { return HeapAlloc(GetProcessHeap(), 0, byte_count); }

void DIAMONDAPI FdiFree(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }

// FDI opens only the cabinet: the target is opened by the copy notification. Anything but the
// stand-in name, and any open for writing, is refused.
INT_PTR DIAMONDAPI FdiOpen(char* path, int open_flags, int) noexcept {
  const auto refused = reinterpret_cast<INT_PTR>(INVALID_HANDLE_VALUE);
  if (expanding_cabinet_path == nullptr || lstrcmpA(path, kCabinetStandInName) != 0) return refused;
  if ((open_flags & (_O_WRONLY | _O_RDWR | _O_CREAT)) != 0) return refused;
  // Readers may share the cabinet, and the cabinet may be deleted while it is read; nobody may
  // write it.
  return reinterpret_cast<INT_PTR>(CreateFileW(expanding_cabinet_path, GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
}

UINT DIAMONDAPI FdiRead(INT_PTR file, void* buffer, UINT byte_count) noexcept {
  DWORD read = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, byte_count, &read, nullptr)) return static_cast<UINT>(-1);
  return read;
}

UINT DIAMONDAPI FdiWrite(INT_PTR file, void* buffer, UINT byte_count) noexcept {
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(file), buffer, byte_count, &written, nullptr)) {
    return static_cast<UINT>(-1);
  }
  return written;
}

int DIAMONDAPI FdiClose(INT_PTR file) noexcept { return CloseHandle(reinterpret_cast<HANDLE>(file)) ? 0 : -1; }

LONG DIAMONDAPI FdiSeek(INT_PTR file, LONG distance, int seek_type) noexcept {
  return static_cast<LONG>(SetFilePointer(reinterpret_cast<HANDLE>(file), distance, nullptr, seek_type));
}

INT_PTR CloseFileInfo(ExpansionContext& context, PFDINOTIFICATION record) noexcept {
  // Zero times and attributes leave those items as they are; the cabinet's time is local time.
  FILE_BASIC_INFO basic{};
  FILETIME local_time;
  FILETIME universal_time;
  if (DosDateTimeToFileTime(record->date, record->time, &local_time) &&
      LocalFileTimeToFileTime(&local_time, &universal_time)) {
    basic.CreationTime.LowPart = universal_time.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(universal_time.dwHighDateTime);
  }
  basic.FileAttributes = record->attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                            FILE_ATTRIBUTE_ARCHIVE);
  const HANDLE handle = reinterpret_cast<HANDLE>(record->hf);
  // Some FDI implementations carry on past a failed write and still report the file as closed; a
  // target shorter than the cabinet says is not complete.
  LARGE_INTEGER written_size;
  const bool complete =
      GetFileSizeEx(handle, &written_size) && static_cast<uint64_t>(written_size.QuadPart) == context.expected_size;
  SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
  CloseHandle(handle);
  context.succeeded = complete;
  return -1;  // only the first file is wanted: ask FDI to stop here
}

INT_PTR DIAMONDAPI FdiNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION record) noexcept {
  auto& context = *static_cast<ExpansionContext*>(record->pv);
  switch (type) {
    case fdintCABINET_INFO:
    case fdintENUMERATE:
      return 0;
    case fdintCOPY_FILE: {
      // Some FDI implementations go on after the first file despite being asked to stop; skipping
      // every later file keeps the target, finished or not, from being reopened and overwritten.
      if (context.output.IsOpen()) return 0;
      if (!context.output.Open(context.target_path)) return -1;
      context.expected_size = static_cast<uint32_t>(record->cb);
      const HANDLE copy = context.output.Duplicate();
      return copy == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(copy);
    }
    case fdintCLOSE_FILE_INFO:
      return CloseFileInfo(context, record);
    default:
      return -1;
  }
}

}  // namespace

bool ExpandCabinet(const wchar_t* cabinet_path, const wchar_t* target_path) noexcept {
  const HMODULE cabinet = LoadCabinetLibrary();
  if (cabinet == nullptr) return false;
  const auto fdi_create = LookUp<FdiCreateFunction>(cabinet, "FDICreate");
  const auto fdi_destroy = LookUp<FdiDestroyFunction>(cabinet, "FDIDestroy");
  const auto fdi_copy = LookUp<FdiCopyFunction>(cabinet, "FDICopy");
  if (fdi_create == nullptr || fdi_destroy == nullptr || fdi_copy == nullptr) return false;

  ERF error_record{};
  HFDI fdi = fdi_create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &error_record);
  if (fdi == nullptr) return false;

  ExpansionContext context{target_path, {}, false, 0};
  expanding_cabinet_path = cabinet_path;
  fdi_copy(fdi, const_cast<char*>(kCabinetStandInName), const_cast<char*>(kCabinetStandInDirectory), 0, FdiNotify,
           nullptr, &context);
  fdi_destroy(fdi);
  expanding_cabinet_path = nullptr;

  if (!context.succeeded) {
    context.output.Close();
    return false;
  }
  FlushFileBuffers(context.output.Handle());
  return context.output.Complete();
}
