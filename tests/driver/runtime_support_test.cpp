// The stack protector and the stack probe as a running installer process has them: hardening_probe
// is linked exactly as an installer is (same runtime support, code generation and link), with an
// entry point that reports the guard value it sees, overruns a stack buffer, or runs the stack probe
// over guard pages of its own on request.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "handles/unique_handle.h"
#include "runtime/load_configuration.h"
#include "runtime/stack_cookie.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace {

ChildResult RunProbe(const std::wstring& arguments) {
  return RunChild(ProgramDirectory() + L"hardening_probe.exe", L"hardening_probe.exe " + arguments);
}

std::uint64_t GuardSeenByAProbeProcess() {
  TemporaryDirectory directory(L"cookie");
  const std::wstring file = directory / L"cookie.bin";
  const ChildResult result = RunProbe(L"cookie \"" + file + L"\"");
  EXPECT_TRUE(result.started) << "start error " << result.start_error;
  EXPECT_EQ(result.exit_code, 0u);
  const std::string bytes = ReadFileBytes(file);
  std::uint64_t guard = 0;
  EXPECT_EQ(bytes.size(), sizeof guard);
  std::memcpy(&guard, bytes.data(), std::min(bytes.size(), sizeof guard));
  return guard;
}

// The image starts with the default in its data (installer_image_test checks the file); the loader
// (Wine's as Windows') finds it through the load configuration and replaces it before entry.
TEST(StackCookieTest, EachProcessRunsWithAGuardOfItsOwn) {
  const std::uint64_t first = GuardSeenByAProbeProcess();
  const std::uint64_t second = GuardSeenByAProbeProcess();
  EXPECT_NE(first, kDefaultSecurityCookie);
  EXPECT_NE(second, kDefaultSecurityCookie);
  EXPECT_NE(first, second);
  EXPECT_NE(first, 0u);
  // As on Windows, the top 16 bits stay clear so a string overrun cannot reproduce the value.
  EXPECT_EQ(first >> 48, 0u);
  // This test process links the same runtime support, so its own guard was replaced too.
  EXPECT_NE(__stack_chk_guard, kDefaultSecurityCookie);
}

// What a debugger sees of a probe process: the fail-fast exceptions raised in it, with their code
// (the exception's first parameter), and its exit code.
struct DebuggedRun {
  bool started = false;
  int fail_fasts = 0;
  ULONG_PTR fail_fast_code = 0;
  DWORD exit_code = 0;
};

// Runs the probe under the debugging API, as a debugger or crash reporter attached to an installer
// would. A fail-fast goes to the debugger alone (Windows and Wine pass it to no handler of the
// process), so this is where its code can be read back.
DebuggedRun RunProbeUnderDebugger(const std::wstring& arguments) {
  DebuggedRun run;
  std::wstring command_line = L"hardening_probe.exe " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  run.started = CreateProcessW((ProgramDirectory() + L"hardening_probe.exe").c_str(), command_line.data(), nullptr,
                               nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process);
  if (!run.started) return run;
  const UniqueProcessInformation owned{UniqueKernelHandle(process.hProcess), UniqueKernelHandle(process.hThread)};
  DEBUG_EVENT event = {};
  while (WaitForDebugEvent(&event, 120000)) {
    DWORD continuation = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile != nullptr) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile != nullptr) {
      CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
      if (record.ExceptionCode == STATUS_STACK_BUFFER_OVERRUN && record.NumberParameters >= 1) {
        ++run.fail_fasts;
        run.fail_fast_code = record.ExceptionInformation[0];
      }
      // The loader's breakpoint is the debugger's to pass; anything else is the process's own.
      if (record.ExceptionCode != EXCEPTION_BREAKPOINT) continuation = DBG_EXCEPTION_NOT_HANDLED;
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      run.exit_code = event.u.ExitProcess.dwExitCode;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continuation);
    if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) break;
  }
  return run;
}

TEST(StackCookieTest, OverrunStackBufferEndsTheProcessThroughFailFast) {
  const struct {
    const wchar_t* count;
    DWORD exit_code;
    int fail_fasts;
  } cases[] = {
      {L"16", 0, 0},                            // fills the buffer exactly: the function returns
      {L"64", STATUS_STACK_BUFFER_OVERRUN, 1},  // runs over the cookie: the process ends before the function returns
  };
  for (const auto& c : cases) {
    const DebuggedRun run = RunProbeUnderDebugger(std::wstring(L"overrun ") + c.count);
    ASSERT_TRUE(run.started) << "start error " << GetLastError();
    EXPECT_EQ(run.exit_code, c.exit_code) << Narrow(c.count);
    EXPECT_EQ(run.fail_fasts, c.fail_fasts) << Narrow(c.count);
    // The code says why the process was ended: a crash report for an overrun names the stack cookie.
    if (c.fail_fasts != 0) EXPECT_EQ(run.fail_fast_code, ULONG_PTR{FAST_FAIL_STACK_COOKIE_CHECK_FAILURE});
  }
}

// Wine commits a thread's whole stack, so the probe is run over a stack the probe process lays out
// as Windows does (committed, one guard page, reserved below): a page skipped faults, and a page
// touched past the frame's end is seen afterwards (exit code 3 from the probe process).
TEST(StackProbeTest, TouchesEveryPageOfTheFrameInOrderAndNoneBelow) {
  const wchar_t* const frame_sizes[] = {
      L"2048",   // under a page: one touch at the frame's end
      L"4096",   // exactly a page, ending on a page boundary
      L"24576",  // six pages
      L"26000",  // six pages and part of a seventh
  };
  for (const wchar_t* frame_size : frame_sizes) {
    const ChildResult result = RunProbe(std::wstring(L"stack ") + frame_size);
    EXPECT_TRUE(result.started) << "start error " << result.start_error;
    EXPECT_EQ(result.exit_code, 0u) << "frame of " << Narrow(frame_size) << " bytes";
  }
}

}  // namespace
