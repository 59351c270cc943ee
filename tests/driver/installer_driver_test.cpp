// Whole runs of the driver: real installers started as child processes where Wine can show the
// behaviour, and the driver called in this process, with one import redirected, for the failures
// Wine cannot produce (a command line that cannot be split, a lost executable path) and for the
// working-set trim, which Wine accepts and ignores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/installer_driver.h"
#include "support/child_process.h"
#include "support/import_redirect.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

using Names = std::vector<std::wstring>;

// Every run here must be able to clean up after itself.
class InstallerDriverTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(cleanup_value_.Remove()); }

  // Copies the installer without payload into directory under file_name and runs it.
  static DWORD RunStub(const std::wstring& directory, const std::wstring& file_name, const std::wstring& arguments) {
    const std::wstring path = directory + file_name;
    EXPECT_TRUE(CopyFileTo(ProgramDirectory() + L"installer_stub.exe", path));
    const ChildResult result = RunChild(path, arguments);
    EXPECT_TRUE(result.started) << "start error " << result.start_error;
    return result.exit_code;
  }

  RegistryValueScope cleanup_value_{HKEY_CURRENT_USER, L"Software\\Zarvelo", L"DrelixInstallerCleanup"};
};

TEST_F(InstallerDriverTest, RejectedSwitchEndsTheRunBeforeAnythingIsCreated) {
  const struct {
    const wchar_t* command_line;
    DWORD exit_code;
  } cases[] = {
      {L"installer.exe --CLEANUP", 118},
      {L"installer.exe /quiet --Drelix-Frame --system-level", 118},
      {L"--cleanup", 112},  // the program name is never a switch; no payload gives 112
      {L"installer.exe --cleanup=1", 112},
  };
  for (const auto& c : cases) {
    TemporaryDirectory directory(L"switch");
    EXPECT_EQ(RunStub(directory.Path(), L"installer.exe", c.command_line), c.exit_code) << c.command_line;
    EXPECT_EQ(ListDirectory(directory.Path()), Names{L"installer.exe"}) << c.command_line;
  }
}

// Wine starts no program whose path has 260 units or more, so the cut path is shown in-process below.
TEST_F(InstallerDriverTest, ExecutablePathOf259UnitsIsAccepted) {
  TemporaryDirectory directory(L"long");
  // A long file name keeps the directory short, so a scratch directory still fits beside it.
  const std::wstring name = std::wstring(259 - directory.Path().size() - 4, L'n') + L".exe";
  ASSERT_EQ((directory.Path() + name).size(), 259u);
  EXPECT_EQ(RunStub(directory.Path(), name, L"installer.exe"), 112u) << "no payload, so extraction is reached";
  EXPECT_EQ(ListDirectory(directory.Path()), Names{name});
}

// In-process runs: the test executable is the module, and it carries no payload.
std::wstring g_command_line;
LPWSTR WINAPI FakeGetCommandLineW() { return g_command_line.data(); }

int g_trim_calls = 0;
BOOL WINAPI CountingSetProcessWorkingSetSize(HANDLE, SIZE_T, SIZE_T) {
  ++g_trim_calls;
  return TRUE;
}

LPWSTR* WINAPI FailingCommandLineToArgvW(LPCWSTR, int*) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

Names ScratchDirectoriesBesideUs() {
  Names found;
  for (const std::wstring& name : ListDirectory(ProgramDirectory())) {
    if (name.rfind(L"QV_", 0) == 0) found.push_back(name);
  }
  return found;
}

TEST_F(InstallerDriverTest, WorkingSetIsTrimmedOnceByARunThatReachesExtraction) {
  ImportRedirect command_line("kernel32.dll", "GetCommandLineW", reinterpret_cast<const void*>(&FakeGetCommandLineW));
  ImportRedirect trim("kernel32.dll", "SetProcessWorkingSetSize",
                      reinterpret_cast<const void*>(&CountingSetProcessWorkingSetSize));
  const Names before = ScratchDirectoriesBesideUs();

  g_command_line = L"installer.exe --system-level";
  g_trim_calls = 0;
  ExitOutcome outcome = RunInstaller(GetModuleHandleW(nullptr));
  EXPECT_EQ(outcome.exit_code, 112u);
  EXPECT_EQ(g_trim_calls, 1);

  g_command_line = L"installer.exe --drelix-frame";
  g_trim_calls = 0;
  outcome = RunInstaller(GetModuleHandleW(nullptr));
  EXPECT_EQ(outcome.exit_code, 118u);
  EXPECT_EQ(outcome.windows_error, 0u);
  EXPECT_EQ(g_trim_calls, 0);
  EXPECT_EQ(ScratchDirectoriesBesideUs(), before);
}

TEST_F(InstallerDriverTest, CommandLineThatCannotBeSplitEndsWith101AndItsError) {
  ImportRedirect split("shell32.dll", "CommandLineToArgvW", reinterpret_cast<const void*>(&FailingCommandLineToArgvW));
  ImportRedirect trim("kernel32.dll", "SetProcessWorkingSetSize",
                      reinterpret_cast<const void*>(&CountingSetProcessWorkingSetSize));
  const Names before = ScratchDirectoriesBesideUs();
  g_trim_calls = 0;
  const ExitOutcome outcome = RunInstaller(GetModuleHandleW(nullptr));
  EXPECT_EQ(outcome.exit_code, 101u);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(g_trim_calls, 0);
  EXPECT_EQ(ScratchDirectoriesBesideUs(), before);
}

// What the fake GetModuleFileNameW reports: a result and the last error that goes with it.
const wchar_t* g_module_path = nullptr;
DWORD g_module_path_result = 0;
DWORD g_module_path_error = 0;
DWORD WINAPI FakeGetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
  if (g_module_path != nullptr) lstrcpynW(buffer, g_module_path, static_cast<int>(size));
  SetLastError(g_module_path_error);
  return g_module_path_result;
}

TEST_F(InstallerDriverTest, ExecutablePathThatCannotBeHadWholeEndsWith108AndNothingIsCreated) {
  const std::wstring cut(260, L'c');
  const struct {
    const char* name;
    const wchar_t* path;
    DWORD result;
    DWORD error;
    uint32_t windows_error;
  } cases[] = {
      {"call failed", nullptr, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"cut at 260", cut.c_str(), 260, ERROR_INSUFFICIENT_BUFFER, ERROR_INSUFFICIENT_BUFFER},
      {"no backslash", L"installer.exe", 13, 0, 0},
  };
  const Names before = ScratchDirectoriesBesideUs();
  ImportRedirect trim("kernel32.dll", "SetProcessWorkingSetSize",
                      reinterpret_cast<const void*>(&CountingSetProcessWorkingSetSize));
  g_trim_calls = 0;
  for (const auto& c : cases) {
    g_module_path = c.path;
    g_module_path_result = c.result;
    g_module_path_error = c.error;
    ImportRedirect module_path("kernel32.dll", "GetModuleFileNameW",
                               reinterpret_cast<const void*>(&FakeGetModuleFileNameW));
    const ExitOutcome outcome = RunInstaller(GetModuleHandleW(nullptr));
    EXPECT_EQ(outcome.exit_code, 108u) << c.name;
    EXPECT_EQ(outcome.windows_error, c.windows_error) << c.name;
  }
  EXPECT_EQ(g_trim_calls, 0);
  EXPECT_EQ(ScratchDirectoriesBesideUs(), before);
}

}  // namespace
