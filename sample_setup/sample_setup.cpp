// A stand-in for a product's setup program. Each run appends a record of what it was given to the
// file named by SAMPLE_SETUP_RECORD, so tests and the demo can show exactly what the installer
// passed on, and exits with the code in SAMPLE_SETUP_EXIT_CODE (0 when unset).
//
// A record is three lines, each "name=value", in UTF-8:
//   command_line=<the raw command line>
//   current_directory=<the current directory>
//   HalvexUpdateIsMachine=<its value, or "(unset)">
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

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
  const std::string record = "command_line=" + Utf8(GetCommandLineW()) + "\n" +
                             "current_directory=" + Utf8(directory) + "\n" +
                             "HalvexUpdateIsMachine=" + Utf8(EnvironmentValue(L"HalvexUpdateIsMachine", L"(unset)")) +
                             "\n";
  // Several installers may run at once: appending through FILE_APPEND_DATA keeps each record whole.
  HANDLE file = CreateFileW(record_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int wmain() {
  const std::wstring record_path = EnvironmentValue(L"SAMPLE_SETUP_RECORD", L"");
  if (!record_path.empty()) AppendRecord(record_path);
  const std::wstring exit_code = EnvironmentValue(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  ExitProcess(static_cast<UINT>(std::wcstoul(exit_code.c_str(), nullptr, 0)));
}
