// The floor the installer is measured against: the least a program can do to hand the same payload to
// the same setup program. It writes its archive and setup program into a new directory beside
// itself in 8 MiB WriteFile chunks, runs setup with the installer's argument, waits, deletes both
// files and the directory, and exits with setup's exit code. No access control, no random name, no
// resource enumeration, no retries: everything the installer does beyond this is its overhead.
//
// The archive comes from the program's own resources, as in the installer (the loader maps the image
// straight from the file), or, given a file name, from that file mapped into memory.
//
// Built with FLOOR_SPLITS_COMMAND_LINE it also splits its command line with shell32, and with
// FLOOR_READS_REGISTRY it also reads a registry value through advapi32, as the installer's settings
// do: each differs from the floor by one call and one imported library, so its time less the
// floor's is what that library costs a process to load.
#include <windows.h>
#ifdef FLOOR_SPLITS_COMMAND_LINE
#include <shellapi.h>
#endif

#include <initializer_list>

namespace {

constexpr DWORD kWriteChunkBytes = 8 * 1024 * 1024;
constexpr UINT kFloorFailed = 1000;

struct Bytes {
  const unsigned char* data = nullptr;
  DWORD size = 0;
};

Bytes FindOwnResource(const wchar_t* name, const wchar_t* type) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(module, name, type);
  if (resource == nullptr) return {};
  const HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr) return {};
  return {static_cast<const unsigned char*>(LockResource(loaded)), SizeofResource(module, resource)};
}

// The whole file as a read-only view; the process ends without unmapping it.
Bytes MapWholeFile(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  const DWORD size = GetFileSize(file, nullptr);
  const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(file);
  if (mapping == nullptr) return {};
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  return {static_cast<const unsigned char*>(view), view == nullptr ? 0 : size};
}

bool WriteWholeFile(const wchar_t* path, const Bytes& bytes) {
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written_whole = true;
  for (DWORD offset = 0; written_whole && offset < bytes.size;) {
    const DWORD remaining = bytes.size - offset;
    DWORD written = 0;
    written_whole = WriteFile(file, bytes.data + offset, remaining < kWriteChunkBytes ? remaining : kWriteChunkBytes,
                              &written, nullptr) &&
                    written != 0;
    offset += written;
  }
  CloseHandle(file);
  return written_whole;
}

UINT RunAndWait(wchar_t* command_line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return kFloorFailed;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = kFloorFailed;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  return exit_code;
}

// Text is built with kernel32's own string calls: user32's formatting would cost its load at start,
// which the installer does not pay. The benchmark's paths are short, so the buffers always fit.
void Join(wchar_t* text, std::initializer_list<const wchar_t*> parts) {
  *text = 0;
  for (const wchar_t* part : parts) lstrcatW(text, part);
}

void FormatDecimal(DWORD value, wchar_t (&text)[11]) {
  wchar_t reversed[10];
  int count = 0;
  do {
    reversed[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  int position = 0;
  while (count != 0) text[position++] = reversed[--count];
  text[position] = 0;
}

// The first argument after the program name, without its quotes; false when there is none.
bool FirstArgument(wchar_t (&argument)[MAX_PATH]) {
  const wchar_t* rest = GetCommandLineW();
  const wchar_t program_end = *rest == L'"' ? L'"' : L' ';
  if (*rest == L'"') ++rest;
  while (*rest != 0 && *rest != program_end) ++rest;
  if (*rest == L'"') ++rest;
  while (*rest == L' ') ++rest;
  const wchar_t argument_end = *rest == L'"' ? L'"' : L' ';
  if (*rest == L'"') ++rest;
  int length = 0;
  while (rest[length] != 0 && rest[length] != argument_end && length < MAX_PATH - 1) {
    argument[length] = rest[length];
    ++length;
  }
  argument[length] = 0;
  return length != 0;
}

UINT RunFloor() {
#ifdef FLOOR_SPLITS_COMMAND_LINE
  int argument_count = 0;
  LocalFree(CommandLineToArgvW(GetCommandLineW(), &argument_count));
#endif
#ifdef FLOOR_READS_REGISTRY
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zarvelo", 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
  }
#endif
  wchar_t archive_file[MAX_PATH];
  const Bytes archive =
      FirstArgument(archive_file) ? MapWholeFile(archive_file) : FindOwnResource(L"DRELIX.PACKED.7Z", L"B7");
  const Bytes setup = FindOwnResource(L"SETUP.EXE", L"BN");
  if (archive.size == 0 || setup.size == 0) return kFloorFailed;

  wchar_t program_path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program_path, MAX_PATH - 40);
  if (length == 0 || length >= MAX_PATH - 40) return kFloorFailed;
  wchar_t* after_directory = program_path + length;
  while (after_directory != program_path && after_directory[-1] != L'\\') --after_directory;
  *after_directory = 0;
  wchar_t process_id[11];
  FormatDecimal(GetCurrentProcessId(), process_id);
  wchar_t directory[MAX_PATH];
  wchar_t archive_path[MAX_PATH];
  wchar_t setup_path[MAX_PATH];
  Join(directory, {program_path, L"floor_", process_id});
  Join(archive_path, {directory, L"\\DRELIX.PACKED.7Z"});
  Join(setup_path, {directory, L"\\setup.exe"});
  if (!CreateDirectoryW(directory, nullptr)) return kFloorFailed;

  UINT exit_code = kFloorFailed;
  if (WriteWholeFile(archive_path, archive) && WriteWholeFile(setup_path, setup)) {
    wchar_t command_line[3 * MAX_PATH];
    Join(command_line, {L"\"", setup_path, L"\" --install-archive=\"", archive_path, L"\""});
    exit_code = RunAndWait(command_line);
  }
  DeleteFileW(setup_path);
  DeleteFileW(archive_path);
  RemoveDirectoryW(directory);
  return exit_code;
}

}  // namespace

extern "C" [[noreturn]] void FloorEntry() { ExitProcess(RunFloor()); }
