// The stack protector and the stack probe as a running installer process has them: hardening_probe
// is linked exactly as an installer is (same runtime support, code generation and link), with an
// entry point that reports the guard value it sees, overruns a stack buffer, or runs the stack probe
// over guard pages of its own on request.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/load_configuration.h"
#include "runtime/stack_cookie.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace {

// STATUS_STACK_BUFFER_OVERRUN: the exit code of a process ended by the stack cookie's fail-fast.
constexpr DWORD kStackBufferOverrun = 0xC0000409;

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

TEST(StackCookieTest, OverrunStackBufferEndsTheProcessThroughFailFast) {
  const struct {
    const wchar_t* count;
    DWORD exit_code;
  } cases[] = {
      {L"16", 0},                    // fills the buffer exactly: the function returns
      {L"64", kStackBufferOverrun},  // runs over the cookie: the process ends before the function returns
  };
  for (const auto& c : cases) {
    const ChildResult result = RunProbe(std::wstring(L"overrun ") + c.count);
    EXPECT_TRUE(result.started) << "start error " << result.start_error;
    EXPECT_EQ(result.exit_code, c.exit_code) << Narrow(c.count);
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
