#include "support/child_process.h"

HANDLE StartChild(const std::wstring& program_path, const std::wstring& command_line,
                  const std::wstring& current_directory, bool inherit_handles) {
  std::wstring writable = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program_path.c_str(), writable.data(), nullptr, nullptr, inherit_handles ? TRUE : FALSE, 0,
                      nullptr, current_directory.empty() ? nullptr : current_directory.c_str(), &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD WaitForChild(HANDLE process, DWORD timeout_milliseconds) {
  if (WaitForSingleObject(process, timeout_milliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, INFINITE);
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process, &exit_code);
  CloseHandle(process);
  return exit_code;
}

ChildResult RunChild(const std::wstring& program_path, const std::wstring& command_line,
                     const std::wstring& current_directory, DWORD timeout_milliseconds) {
  ChildResult result;
  // Under heavy load (twenty starts at once) the platform has been seen to refuse one of this
  // harness's own starts now and then, before the program under test ran at all. A refusal that
  // says nothing about the program (anything but a missing or malformed file) is the harness's to
  // try again, a few times; the program itself is never started twice.
  HANDLE process = nullptr;
  for (int attempt = 1; (process = StartChild(program_path, command_line, current_directory)) == nullptr; ++attempt) {
    result.start_error = GetLastError();
    const bool about_the_program = result.start_error == ERROR_FILE_NOT_FOUND ||
                                   result.start_error == ERROR_PATH_NOT_FOUND ||
                                   result.start_error == ERROR_BAD_EXE_FORMAT;
    if (about_the_program || attempt == 5) return result;
    Sleep(200);
  }
  result.started = true;
  result.exit_code = WaitForChild(process, timeout_milliseconds);
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
