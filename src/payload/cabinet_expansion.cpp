#include "payload/cabinet_expansion.h"

#include <fcntl.h>

#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

namespace {

using FdiCreateFunction = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int,
                                            PERF);
using FdiDestroyFunction = BOOL(DIAMONDAPI*)(HFDI);
using FdiCopyFunction = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);

// Loaded once per process and kept: the run expands at most one cabinet, and a second load would
// only repeat the search.
constinit HMODULE cabinet_module = nullptr;

// Only the system directory is tried, by full path, so no planted cabinet.dll beside the installer
// can be picked up.
HMODULE LoadCabinetLibrary() noexcept {
  if (cabinet_module != nullptr) return cabinet_module;
  // Inline texts rather than pointers: a table of pointers would need relocations and a writable
  // data section of its own in the image.
  static constexpr wchar_t kCandidates[][36] = {
      L"%WINDIR%\\system32\\cabinet.dll",
      L"%SYSTEMROOT%\\system32\\cabinet.dll",
      L"C:\\Windows\\system32\\cabinet.dll",
  };
  PathBuffer expanded;
  FillBytes(expanded.units, 0, sizeof(expanded.units) - sizeof(wchar_t));
  for (const wchar_t* candidate : kCandidates) {
    expanded.units[0] = 0;
    const DWORD length = ExpandEnvironmentStringsW(candidate, expanded.units, 260);
    if (length < 1 || length > 260) continue;
    cabinet_module = LoadLibraryExW(expanded.units, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (cabinet_module != nullptr) break;
  }
  return cabinet_module;
}

// GetProcAddress returns a generic function pointer; the export's real type is the caller's to know.
template <typename Function>
Function LookUp(HMODULE module, const char* name) noexcept {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// UTF-8 copy of length units of text (not counting a terminator) in a process-heap block, terminated.
char* ToUtf8(const wchar_t* text, int length) noexcept {
  const int byte_count = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (byte_count <= 0 && length != 0) return nullptr;
  auto* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(byte_count) + 1));
  if (bytes == nullptr) return nullptr;
  if (length != 0 && WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, byte_count, nullptr, nullptr) != byte_count) {
    HeapFree(GetProcessHeap(), 0, bytes);
    return nullptr;
  }
  bytes[byte_count] = 0;
  return bytes;
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
  basic.FileAttributes = record->attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  const auto handle = reinterpret_cast<HANDLE>(record->hf);
  // Some FDI implementations carry on past a failed write and still report the file as closed; a
  // target shorter than the cabinet says is not complete.
  LARGE_INTEGER written_size;
  const bool complete = GetFileSizeEx(handle, &written_size) &&
                        static_cast<uint64_t>(written_size.QuadPart) == context.expected_size;
  SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
  CloseHandle(handle);
  context.succeeded = complete;
  return -1;  // only the first file is wanted: ask FDI to stop here
}

}  // namespace

void* DIAMONDAPI FdiAlloc(ULONG byte_count) noexcept { return HeapAlloc(GetProcessHeap(), 0, byte_count); }

void DIAMONDAPI FdiFree(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }

INT_PTR DIAMONDAPI FdiOpen(char* path, int open_flags, int) noexcept {
  DWORD access = GENERIC_READ;
  if (open_flags & _O_RDWR) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else if (open_flags & _O_WRONLY) {
    access = GENERIC_WRITE;
  }
  const DWORD disposition = (open_flags & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING;

  const int unit_count = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
  if (unit_count <= 0) return reinterpret_cast<INT_PTR>(INVALID_HANDLE_VALUE);
  UniqueHeapBlock wide_path(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(unit_count) * sizeof(wchar_t)));
  if (!wide_path.IsValid()) return reinterpret_cast<INT_PTR>(INVALID_HANDLE_VALUE);
  auto* wide = static_cast<wchar_t*>(wide_path.Get());
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, unit_count) != unit_count) {
    return reinterpret_cast<INT_PTR>(INVALID_HANDLE_VALUE);
  }
  // Readers may share the cabinet, and the cabinet may be deleted while it is read; nobody may
  // write it.
  return reinterpret_cast<INT_PTR>(CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                               disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
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

bool ExpandCabinet(const wchar_t* cabinet_path, const wchar_t* target_path) noexcept {
  const HMODULE cabinet = LoadCabinetLibrary();
  if (cabinet == nullptr) return false;
  const auto fdi_create = LookUp<FdiCreateFunction>(cabinet, "FDICreate");
  const auto fdi_destroy = LookUp<FdiDestroyFunction>(cabinet, "FDIDestroy");
  const auto fdi_copy = LookUp<FdiCopyFunction>(cabinet, "FDICopy");
  if (fdi_create == nullptr || fdi_destroy == nullptr || fdi_copy == nullptr) return false;

  const uint64_t path_length = BoundedLength(cabinet_path, 260);
  const wchar_t* file_name = AfterLastBackslash(cabinet_path, path_length);
  if (file_name == cabinet_path || file_name == cabinet_path + 1) return false;
  const auto directory_length = static_cast<int>(file_name - cabinet_path);
  const auto file_name_length = static_cast<int>(path_length) - directory_length;

  UniqueHeapBlock file_name_utf8(ToUtf8(file_name, file_name_length));
  if (!file_name_utf8.IsValid()) return false;
  UniqueHeapBlock directory_utf8(ToUtf8(cabinet_path, directory_length));
  if (!directory_utf8.IsValid()) return false;

  ERF error_record{};
  HFDI fdi = fdi_create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &error_record);
  if (fdi == nullptr) return false;

  ExpansionContext context{target_path, {}, false, 0};
  fdi_copy(fdi, static_cast<char*>(file_name_utf8.Get()), static_cast<char*>(directory_utf8.Get()), 0, FdiNotify,
           nullptr, &context);
  fdi_destroy(fdi);

  if (context.succeeded) {
    FlushFileBuffers(context.output.Handle());
  } else if (context.output.IsOpen()) {
    static_cast<void>(context.output.MarkForDeletion());
  }
  context.output.Close();
  return context.succeeded;
}
