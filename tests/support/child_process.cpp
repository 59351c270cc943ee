#include "support/child_process.h"

ChildResult RunChild(const std::wstring& program_path, const std::wstring& command_line,
                     const std::wstring& current_directory, DWORD timeout_milliseconds) {
  ChildResult result;
  std::wstring writable = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program_path.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      current_directory.empty() ? nullptr : current_directory.c_str(), &startup, &process)) {
    result.start_error = GetLastError();
    return result;
  }
  result.started = true;
  CloseHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, timeout_milliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &result.exit_code);
  CloseHandle(process.hProcess);
  return result;
}

EnvironmentVariableScope::EnvironmentVariableScope(const wchar_t* name, const wchar_t* value) : name_(name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size > 0) {
    old_value_.resize(size);
    old_value_.resize(GetEnvironmentVariableW(name, old_value_.data(), size));
    had_value_ = true;
  }
  SetEnvironmentVariableW(name, value);
}

EnvironmentVariableScope::~EnvironmentVariableScope() {
  SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}
