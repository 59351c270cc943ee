#include "support/file_holder.h"

#include "support/child_process.h"
#include "support/test_files.h"

FileHolder::FileHolder(const std::wstring& path, DWORD share) {
  static int serial = 0;
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
  const std::wstring ready_name = L"file-holder-ready-" + suffix;
  const std::wstring release_name = L"file-holder-release-" + suffix;
  ready_ = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
  release_ = CreateEventW(nullptr, TRUE, FALSE, release_name.c_str());
  process_ = StartChild(
      ProgramDirectory() + L"file_holder.exe",
      L"file_holder.exe \"" + path + L"\" " + std::to_wstring(share) + L" " + ready_name + L" " + release_name);
  if (process_ == nullptr) return;
  const HANDLE either[] = {ready_, process_};
  holding_ = WaitForMultipleObjects(2, either, FALSE, 30000) == WAIT_OBJECT_0;
}

FileHolder::~FileHolder() {
  Release();
  CloseHandle(ready_);
  CloseHandle(release_);
}

void FileHolder::Release() {
  if (process_ == nullptr) return;
  SetEvent(release_);
  WaitForSingleObject(process_, 30000);
  CloseHandle(process_);
  process_ = nullptr;
  holding_ = false;
}
