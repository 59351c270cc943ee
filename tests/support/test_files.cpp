#include "support/test_files.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

std::wstring ProgramDirectory() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L'\\') + 1);
}

LoadedModule LoadFixture(const std::wstring& file_name) {
  return LoadedModule(LoadLibraryExW((ProgramDirectory() + file_name).c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::string PayloadFixture(const std::wstring& name) {
  return ReadFileBytes(ProgramDirectory() + L"payload_fixtures\\" + name);
}

std::string ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name) {
  HRSRC resource = FindResourceW(module, name, type);
  if (resource == nullptr) return "(missing)";
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
  return std::string(data, SizeofResource(module, resource));
}

std::vector<std::wstring> ScratchDirectoryNames(const std::wstring& directory) {
  std::vector<std::wstring> found;
  for (const std::wstring& name : ListDirectory(directory)) {
    if (name.rfind(L"QV_", 0) == 0) found.push_back(name);
  }
  return found;
}

std::vector<std::string> RecordedCommandLines(const std::wstring& record_path) {
  std::vector<std::string> lines;
  const std::string record = ReadFileBytes(record_path);
  const std::string key = "command_line=";
  for (size_t start = record.find(key); start != std::string::npos; start = record.find(key, start)) {
    start += key.size();
    lines.push_back(record.substr(start, record.find('\n', start) - start));
  }
  return lines;
}

std::wstring FullVolumeRoot(std::string& unavailable_reason) {
  const char* drive = std::getenv("FULL_VOLUME_DRIVE");
  if (drive != nullptr) return Widen(drive) + L"\\";
  const char* reason = std::getenv("FULL_VOLUME_UNAVAILABLE");
  unavailable_reason = reason != nullptr ? reason : "run through with_full_volume.sh";
  return {};
}

TemporaryDirectory::TemporaryDirectory(const std::wstring& name_hint) {
  static std::atomic<unsigned> counter{0};
  wchar_t temporary[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temporary);
  for (;;) {
    path_ = std::wstring(temporary) + name_hint + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++) + L"\\";
    if (CreateDirectoryW(path_.c_str(), nullptr)) return;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

TemporaryDirectory::~TemporaryDirectory() { RemoveTree(path_); }

bool RemoveTree(const std::wstring& path) {
  std::wstring plain = path;
  while (!plain.empty() && plain.back() == L'\\') plain.pop_back();
  const DWORD attributes = GetFileAttributesW(plain.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(plain.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const std::wstring& name : ListDirectory(plain + L"\\")) RemoveTree(plain + L"\\" + name);
    return RemoveDirectoryW(plain.c_str()) != 0;
  }
  return DeleteFileW(plain.c_str()) != 0;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char chunk[65536];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
  CloseHandle(file);
  return bytes;
}

bool CopyFileTo(const std::wstring& source, const std::wstring& destination) {
  return CopyFileW(source.c_str(), destination.c_str(), FALSE) != 0;
}

std::vector<std::wstring> ListDirectory(const std::wstring& directory) {
  std::vector<std::wstring> names;
  std::wstring pattern = directory;
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
  return result;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}
