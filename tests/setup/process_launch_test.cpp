// Running a program to completion: real child processes under Wine for every exit code and start
// failure the platform can produce, and a redirected import for the wait failures it cannot.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "conventions/exit_outcome.h"
#include "setup/process_launch.h"
#include "setup/setup_command_lines.h"
#include "strings/bounded_wide_string.h"
#include "support/child_process.h"
#include "support/file_holder.h"
#include "support/import_redirect.h"
#include "support/test_files.h"

namespace {

constexpr uint32_t kFileNotFound = 201;
constexpr uint32_t kPathNotFound = 202;
constexpr uint32_t kOtherwise = 203;
constexpr StartFailureCodes kStartFailures{kFileNotFound, kPathNotFound, kOtherwise};

ExitOutcome Launch(const std::wstring& program, UniqueFileHandle& hold) {
  CommandLineBuffer line;
  EXPECT_TRUE(BoundedCopy(line, (L"\"" + program + L"\"").c_str()));
  return LaunchAndWait(program.c_str(), line.units, kStartFailures, hold);
}

ExitOutcome Launch(const std::wstring& program) {
  UniqueFileHandle no_hold;
  return Launch(program, no_hold);
}

// Pauses between tries are counted, not taken.
std::vector<DWORD> pauses;
VOID WINAPI CountingSleep(DWORD milliseconds) { pauses.push_back(milliseconds); }

std::wstring SampleSetup() { return ProgramDirectory() + L"sample_setup.exe"; }

TEST(LaunchAndWaitTest, ChildExitCodeComesBackWhole) {
  for (const wchar_t* code : {L"0", L"3", L"112", L"0xC0000005", L"0xFFFFFFFF"}) {
    EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", code);
    const ExitOutcome outcome = Launch(SampleSetup());
    EXPECT_EQ(outcome.exit_code, std::wcstoul(code, nullptr, 0)) << Narrow(code);
    EXPECT_EQ(outcome.windows_error, 0u) << Narrow(code);
  }
}

TEST(LaunchAndWaitTest, ChildGetsTheCommandLineTheEnvironmentAndTheCurrentDirectory) {
  TemporaryDirectory records(L"records");
  const std::wstring record = records / L"record.txt";
  EnvironmentVariableScope record_variable(L"SAMPLE_SETUP_RECORD", record.c_str());
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  EnvironmentVariableScope machine(L"HalvexUpdateIsMachine", L"1");

  // The first token is not used to find the program: only the application path is.
  CommandLineBuffer line;
  ASSERT_TRUE(BoundedCopy(line, L"\"Z:\\nowhere\\other.exe\" --a=\"b c\""));
  UniqueFileHandle no_hold;
  const ExitOutcome outcome = LaunchAndWait(SampleSetup().c_str(), line.units, kStartFailures, no_hold);
  EXPECT_EQ(outcome.exit_code, 0u);

  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  EXPECT_EQ(ReadFileBytes(record),
            "command_line=\"Z:\\nowhere\\other.exe\" --a=\"b c\"\n"
            "current_directory=" +
                Narrow(directory) +
                "\n"
                "HalvexUpdateIsMachine=1\n");
}

TEST(LaunchAndWaitTest, StartFailuresGiveTheCallersCodes) {
  TemporaryDirectory directory(L"launch");
  ASSERT_TRUE(WriteFileBytes(directory / L"notes.exe", "this is text, not a program"));

  ExitOutcome outcome = Launch(directory / L"missing.exe");
  EXPECT_EQ(outcome.exit_code, kFileNotFound);
  EXPECT_EQ(outcome.windows_error, INVALID_FILE_ATTRIBUTES);

  outcome = Launch(directory / L"missing\\setup.exe");
  EXPECT_EQ(outcome.exit_code, kPathNotFound);
  EXPECT_EQ(outcome.windows_error, INVALID_FILE_ATTRIBUTES);

  outcome = Launch(directory / L"notes.exe");
  EXPECT_EQ(outcome.exit_code, kOtherwise);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_BAD_EXE_FORMAT));
}

// From the moment the run holds it until it has started, the program file cannot be rewritten,
// renamed or deleted by anyone, and it still starts; then the hold is let go at once.
TEST(TryToHoldProgramFileTest, HeldProgramCannotBeSwappedYetStartsAndIsLetGoOnceStarted) {
  TemporaryDirectory directory(L"hold");
  const std::wstring program = directory / L"setup.exe";
  ASSERT_TRUE(CopyFileTo(SampleSetup(), program));
  UniqueFileHandle hold;
  const ExitOutcome held = TryToHoldProgramFile(program.c_str(), kOtherwise, hold);
  EXPECT_EQ(held.exit_code, 0u);
  ASSERT_TRUE(hold.IsValid());

  const HANDLE writer =
      CreateFileW(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileW(program.c_str(), (directory / L"moved.exe").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileW(program.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"7");
  const ExitOutcome outcome = Launch(program, hold);
  EXPECT_EQ(outcome.exit_code, 7u);
  EXPECT_FALSE(hold.IsValid());
  EXPECT_TRUE(DeleteFileW(program.c_str())) << GetLastError();
}

// A scanner that holds the program without sharing for a moment is waited out, whether it holds it
// when the run takes its own hold or when the run starts it.
TEST(TryToHoldProgramFileTest, ProgramHeldByAnotherProcessForAMomentIsWaitedOut) {
  for (const bool hold_first : {true, false}) {
    TemporaryDirectory directory(L"hold");
    const std::wstring program = directory / L"setup.exe";
    ASSERT_TRUE(CopyFileTo(SampleSetup(), program));
    FileHolder holder(program, 0);
    ASSERT_TRUE(holder.Holding());
    std::thread release_later([&holder] {
      Sleep(1500);
      holder.Release();
    });
    const ULONGLONG start = GetTickCount64();
    UniqueFileHandle hold;
    if (hold_first) {
      const ExitOutcome held = TryToHoldProgramFile(program.c_str(), kOtherwise, hold);
      EXPECT_EQ(held.exit_code, 0u);
      EXPECT_TRUE(hold.IsValid());
    }
    EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
    const ExitOutcome outcome = Launch(program, hold);
    const ULONGLONG elapsed = GetTickCount64() - start;
    release_later.join();
    EXPECT_EQ(outcome.exit_code, 0u) << "hold first: " << hold_first << ", error " << outcome.windows_error;
    EXPECT_GE(elapsed, 1400u) << "hold first: " << hold_first;
    EXPECT_LT(elapsed, 9000u) << "hold first: " << hold_first;
  }
}

// One that stays held ends with the caller's code and the sharing violation after 100 tries.
TEST(TryToHoldProgramFileTest, ProgramHeldThroughoutGivesTheCallersCodeAfter100Tries) {
  TemporaryDirectory directory(L"hold");
  const std::wstring program = directory / L"setup.exe";
  ASSERT_TRUE(CopyFileTo(SampleSetup(), program));
  FileHolder holder(program, 0);
  ASSERT_TRUE(holder.Holding());
  ImportRedirect sleep("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&CountingSleep));

  pauses.clear();
  UniqueFileHandle hold;
  ExitOutcome outcome = TryToHoldProgramFile(program.c_str(), kOtherwise, hold);
  EXPECT_EQ(outcome.exit_code, kOtherwise);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(hold.IsValid());
  EXPECT_EQ(pauses, std::vector<DWORD>(99, 100));

  pauses.clear();
  outcome = Launch(program);
  EXPECT_EQ(outcome.exit_code, kOtherwise);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(pauses, std::vector<DWORD>(99, 100));

  // Anything but a held file is no reason to wait: it is left for the start to report.
  pauses.clear();
  outcome = TryToHoldProgramFile((directory / L"missing.exe").c_str(), kOtherwise, hold);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_FALSE(hold.IsValid());
  EXPECT_TRUE(pauses.empty());
}

// Wine never fails a wait on a live process handle or the read of its exit code; Windows can (for
// example when the handle lacks SYNCHRONIZE rights), and the run must then not pass as a success.
DWORD WINAPI FailingWait(HANDLE, DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

BOOL WINAPI FailingExitCodeRead(HANDLE, DWORD*) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(LaunchAndWaitTest, WaitFailuresGive107RedirectedBecauseWineCannotFailThem) {
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  {
    ImportRedirect redirect("kernel32.dll", "WaitForSingleObject", reinterpret_cast<const void*>(&FailingWait));
    const ExitOutcome outcome = Launch(SampleSetup());
    EXPECT_EQ(outcome.exit_code, EXIT_WAIT_FAILED);
    EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
  }
  {
    ImportRedirect redirect("kernel32.dll", "GetExitCodeProcess", reinterpret_cast<const void*>(&FailingExitCodeRead));
    const ExitOutcome outcome = Launch(SampleSetup());
    EXPECT_EQ(outcome.exit_code, EXIT_WAIT_FAILED);
    EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  }
}

TEST(InvokeSetupTest, StartFailuresGive122To124) {
  TemporaryDirectory directory(L"invoke");
  ASSERT_TRUE(WriteFileBytes(directory / L"notes.exe", "this is text, not a program"));
  ASSERT_TRUE(WriteFileBytes(directory / L"DRELIX.PACKED.7Z", "archive"));
  PathBuffer archive_path;
  ASSERT_TRUE(BoundedCopy(archive_path, (directory / L"DRELIX.PACKED.7Z").c_str()));
  struct Case {
    std::wstring setup;
    uint32_t exit_code;
    uint32_t windows_error;
  };
  for (const Case& c : {Case{directory / L"setup.exe", EXIT_SETUP_RUN_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES},
                        Case{directory / L"gone\\setup.exe", EXIT_SETUP_RUN_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES},
                        Case{directory / L"notes.exe", EXIT_SETUP_RUN_START_FAILED, ERROR_BAD_EXE_FORMAT}}) {
    PathBuffer setup_path;
    ASSERT_TRUE(BoundedCopy(setup_path, c.setup.c_str()));
    UniqueFileHandle no_hold;
    const ExitOutcome outcome = InvokeSetup(L"install.exe", nullptr, archive_path, setup_path, true, no_hold);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << Narrow(c.setup);
    EXPECT_EQ(outcome.windows_error, c.windows_error) << Narrow(c.setup);
  }
}

}  // namespace
