// A stand-in for a product's setup program, and a small but real installer of the demo product.
//
// Every run first appends a record of what it was given to the file named by SAMPLE_SETUP_RECORD,
// so tests and the demo can show exactly what the installer passed on. When SAMPLE_SETUP_EXIT_CODE
// is set, the run then ends with that code and does nothing else. Otherwise it does what its
// switches ask:
//   --install-archive="<file>" or --uncompressed-archive="<file>"
//       installs the product: the archive, a copy of this program as "setup.exe" and a summary
//       "install-info.txt" go into <root>\Zarvelo\Drelix\<version>\, where <root> is %LOCALAPPDATA%,
//       or %ProgramFiles% for a machine-wide install ("--system-level", or HalvexUpdateIsMachine=1
//       as the updater sets it). The installed "setup.exe" is then registered, in double quotes, as
//       "UninstallString" under "Software\Zarvelo" in the 32-bit view of HKEY_CURRENT_USER or, for a
//       machine-wide install, HKEY_LOCAL_MACHINE. SAMPLE_SETUP_PROGRAM_FILES, when set, replaces
//       %ProgramFiles%. With --previous-version="<version>" (an update), the directory of that
//       version is removed afterwards.
//   --update-setup-exe="<delta>" --new-setup-exe="<file>"
//       rebuilds the next setup program from a delta made for this very program (setup_delta.h)
//       and writes it to <file>. A delta for another program or a damaged one writes nothing.
// Without either, the run only records and ends with 0.
//
// A record is three lines, each "name=value", in UTF-8:
//   command_line=<the raw command line>
//   current_directory=<the current directory>
//   HalvexUpdateIsMachine=<its value, or "(unset)">
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <optional>
#include <string>

#include "setup_delta.h"
#include "setup_exit_codes.h"

namespace {

constexpr wchar_t kVersion[] = L"" SAMPLE_SETUP_VERSION;

std::wstring EnvironmentValue(const wchar_t* name, const wchar_t* absent) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return absent;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
  return result;
}

void AppendRecord(const std::wstring& record_path) {
  wchar_t directory[MAX_PATH * 2] = {};
  GetCurrentDirectoryW(MAX_PATH * 2, directory);
  const std::string record =
      "command_line=" + Utf8(GetCommandLineW()) + "\n" + "current_directory=" + Utf8(directory) + "\n" +
      "HalvexUpdateIsMachine=" + Utf8(EnvironmentValue(L"HalvexUpdateIsMachine", L"(unset)")) + "\n";
  // Several installers may run at once. Appending through FILE_APPEND_DATA is atomic on Windows but
  // not everywhere Wine runs, so the appends also take turns on a named mutex.
  HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\ZarveloSampleSetupRecord");
  const bool have_turn = turn != nullptr && WaitForSingleObject(turn, 30000) != WAIT_TIMEOUT;
  HANDLE file = CreateFileW(record_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
  }
  if (have_turn) ReleaseMutex(turn);
  if (turn != nullptr) CloseHandle(turn);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  // Delete sharing lets the running program read its own image.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool read = GetFileSizeEx(file, &size) && size.QuadPart < 0x40000000;
  if (read) {
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD count = 0;
    read = bytes.empty() ||
           (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) && count == bytes.size());
  }
  CloseHandle(file);
  return read;
}

// A file that cannot be written whole is removed again, so a failed run leaves no half program.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD count = 0;
  const bool written =
      bytes.empty() ||
      (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) && count == bytes.size());
  CloseHandle(file);
  if (!written) DeleteFileW(path.c_str());
  return written;
}

std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::wstring AfterLastBackslash(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The switches this program reads, as "--name=value" after the shell's splitting removed the quotes.
// The installer writes its own switches first and the arguments it passes on after them, so the
// first occurrence of a switch counts: a passed-on argument cannot redirect what the installer fixed.
struct Switches {
  enum class Mode { record_only, install, rebuild };
  Mode mode = Mode::record_only;  // from the first switch that names one
  std::optional<std::wstring> install_archive;
  bool archive_compressed = false;
  std::optional<std::wstring> previous_version;
  std::optional<std::wstring> update_setup_exe;
  std::optional<std::wstring> new_setup_exe;
  bool system_level = false;
};

bool TakeFirstValue(const wchar_t* argument, const wchar_t* name, std::optional<std::wstring>& value) {
  const size_t length = std::wcslen(name);
  if (value || _wcsnicmp(argument, name, length) != 0 || argument[length] != L'=') return false;
  value = argument + length + 1;
  return true;
}

Switches ReadSwitches() {
  Switches switches;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return switches;
  for (int index = 1; index < count; ++index) {
    const wchar_t* argument = arguments[index];
    Switches::Mode named = Switches::Mode::record_only;
    if (TakeFirstValue(argument, L"--install-archive", switches.install_archive)) {
      switches.archive_compressed = true;
      named = Switches::Mode::install;
    }
    if (TakeFirstValue(argument, L"--uncompressed-archive", switches.install_archive)) named = Switches::Mode::install;
    if (TakeFirstValue(argument, L"--update-setup-exe", switches.update_setup_exe) ||
        TakeFirstValue(argument, L"--new-setup-exe", switches.new_setup_exe)) {
      named = Switches::Mode::rebuild;
    }
    static_cast<void>(TakeFirstValue(argument, L"--previous-version", switches.previous_version));
    if (_wcsicmp(argument, L"--system-level") == 0) switches.system_level = true;
    if (switches.mode == Switches::Mode::record_only) switches.mode = named;
  }
  LocalFree(arguments);
  return switches;
}

DWORD RebuildSetup(const Switches& switches) {
  if (!switches.update_setup_exe || !switches.new_setup_exe) return SAMPLE_SETUP_BAD_SWITCHES;
  std::string own_program;
  std::string delta;
  if (!ReadWholeFile(OwnPath(), own_program) || !ReadWholeFile(*switches.update_setup_exe, delta)) {
    return SAMPLE_SETUP_READ_FAILED;
  }
  std::string new_program;
  switch (ApplyDelta(own_program, delta, new_program)) {
    case DeltaResult::made_for_another_program:
      return SAMPLE_SETUP_DELTA_FOR_ANOTHER_PROGRAM;
    case DeltaResult::damaged:
      return SAMPLE_SETUP_DELTA_DAMAGED;
    case DeltaResult::applied:
      break;
  }
  return WriteWholeFile(*switches.new_setup_exe, new_program) ? 0 : SAMPLE_SETUP_WRITE_FAILED;
}

bool CreateDirectories(const std::wstring& directory) {
  for (size_t slash = directory.find(L'\\', 3); slash != std::wstring::npos; slash = directory.find(L'\\', slash + 1)) {
    const std::wstring part = directory.substr(0, slash);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

bool RegisterSetup(bool machine_wide, const std::wstring& installed_setup) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(machine_wide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, L"Software\\Zarvelo", 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring quoted = L"\"" + installed_setup + L"\"";
  const bool set = RegSetValueExW(key, L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted.c_str()),
                                  static_cast<DWORD>((quoted.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

// An update replaces the version it was made for: once the new version is registered, the previous
// version's directory goes. Only a plain version name is taken, never a path.
void RemovePreviousVersion(const std::wstring& product_directory, const Switches& switches) {
  if (!switches.previous_version) return;
  const std::wstring& previous = *switches.previous_version;
  if (previous.empty() || previous == kVersion || previous == L"." || previous == L".." ||
      previous.find_first_of(L"\\/:*?") != std::wstring::npos) {
    return;
  }
  const std::wstring directory = product_directory + previous + L"\\";
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((directory + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) DeleteFileW((directory + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
  RemoveDirectoryW(directory.c_str());
}

DWORD InstallProduct(const Switches& switches) {
  const bool machine_wide = switches.system_level || EnvironmentValue(L"HalvexUpdateIsMachine", L"") == L"1";
  // Windows sets %ProgramFiles% afresh in every process, so a test points the machine-wide
  // install elsewhere through a variable of its own.
  const std::wstring machine_root = EnvironmentValue(L"SAMPLE_SETUP_PROGRAM_FILES", L"");
  const std::wstring root = !machine_wide          ? EnvironmentValue(L"LOCALAPPDATA", L"")
                            : machine_root.empty() ? EnvironmentValue(L"ProgramFiles", L"")
                                                   : machine_root;
  if (root.empty()) return SAMPLE_SETUP_INSTALL_FAILED;
  const std::wstring product_directory = root + L"\\Zarvelo\\Drelix\\";
  const std::wstring directory = product_directory + kVersion + L"\\";
  const std::wstring installed_setup = directory + L"setup.exe";
  const std::wstring& archive = *switches.install_archive;
  const std::wstring archive_name = AfterLastBackslash(archive);

  const std::string summary =
      "product=Drelix\n"
      "version=" +
      Utf8(kVersion) + "\n" + "install_directory=" + Utf8(directory) + "\n" +
      "level=" + (machine_wide ? "machine-wide" : "per-user") + "\n" + "archive_received=" + Utf8(archive) + "\n" +
      "archive_form=" + (switches.archive_compressed ? "compressed" : "uncompressed") + "\n" +
      "previous_version_received=" + (switches.previous_version ? Utf8(*switches.previous_version) : "(none)") + "\n" +
      "command_line=" + Utf8(GetCommandLineW()) + "\n";

  if (!CreateDirectories(directory) || !CopyFileW(archive.c_str(), (directory + archive_name).c_str(), FALSE) ||
      !CopyFileW(OwnPath().c_str(), installed_setup.c_str(), FALSE) ||
      !WriteWholeFile(directory + L"install-info.txt", summary) || !RegisterSetup(machine_wide, installed_setup)) {
    return SAMPLE_SETUP_INSTALL_FAILED;
  }
  RemovePreviousVersion(product_directory, switches);
  return 0;
}

}  // namespace

int wmain() {
  const std::wstring record_path = EnvironmentValue(L"SAMPLE_SETUP_RECORD", L"");
  if (!record_path.empty()) AppendRecord(record_path);
  const std::wstring exit_code = EnvironmentValue(L"SAMPLE_SETUP_EXIT_CODE", L"");
  if (!exit_code.empty()) ExitProcess(static_cast<UINT>(std::wcstoul(exit_code.c_str(), nullptr, 0)));

  const Switches switches = ReadSwitches();
  DWORD result = 0;
  if (switches.mode == Switches::Mode::rebuild) result = RebuildSetup(switches);
  if (switches.mode == Switches::Mode::install) result = InstallProduct(switches);
  ExitProcess(result);
}
