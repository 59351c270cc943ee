// Whole runs of the driver: real installers started as child processes where Wine can show the
// behaviour, and the driver called in this process, with one import redirected, for the failures
// Wine cannot produce (a command line that cannot be split, a lost executable path) and for the
// working-set trim, which Wine accepts and ignores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conventions/exit_outcome.h"

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
      {L"installer.exe --CLEANUP", EXIT_REJECTED_SWITCH},
      {L"installer.exe /quiet --Drelix-Frame --system-level", EXIT_REJECTED_SWITCH},
      {L"--cleanup", 112},  // the program name is never a switch; no payload gives 112
      {L"installer.exe --cleanup=1", EXIT_ARCHIVE_EXTRACTION_FAILED},
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
  EXPECT_EQ(RunStub(directory.Path(), name, L"installer.exe"), EXIT_ARCHIVE_EXTRACTION_FAILED)
      << "no payload, so extraction is reached";
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

Names ScratchDirectoriesBesideUs() { return ScratchDirectoryNames(ProgramDirectory()); }

TEST_F(InstallerDriverTest, WorkingSetIsTrimmedOnceByARunThatReachesExtraction) {
  ImportRedirect command_line("kernel32.dll", "GetCommandLineW", reinterpret_cast<const void*>(&FakeGetCommandLineW));
  ImportRedirect trim("kernel32.dll", "SetProcessWorkingSetSize",
                      reinterpret_cast<const void*>(&CountingSetProcessWorkingSetSize));
  const Names before = ScratchDirectoriesBesideUs();

  g_command_line = L"installer.exe --system-level";
  g_trim_calls = 0;
  ExitOutcome outcome = RunInstaller(GetModuleHandleW(nullptr));
  EXPECT_EQ(outcome.exit_code, EXIT_ARCHIVE_EXTRACTION_FAILED);
  EXPECT_EQ(g_trim_calls, 1);

  g_command_line = L"installer.exe --drelix-frame";
  g_trim_calls = 0;
  outcome = RunInstaller(GetModuleHandleW(nullptr));
  EXPECT_EQ(outcome.exit_code, EXIT_REJECTED_SWITCH);
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
  EXPECT_EQ(outcome.exit_code, EXIT_SETTINGS_FAILED);
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
    EXPECT_EQ(outcome.exit_code, EXIT_PATH_TOO_LONG) << c.name;
    EXPECT_EQ(outcome.windows_error, c.windows_error) << c.name;
  }
  EXPECT_EQ(g_trim_calls, 0);
  EXPECT_EQ(ScratchDirectoriesBesideUs(), before);
}

// The entry point restricts where libraries may be loaded from before it does anything else. Wine
// honours the restriction, but nothing the installer loads by name after its start would show it
// (its one load at run time, cabinet.dll, goes by full path), so the call and its place are recorded
// here. The entry runs on a thread of its own, whose ExitProcess only ends that thread.
std::vector<std::string> g_entry_calls;

BOOL WINAPI RecordingSetDefaultDllDirectories(DWORD flags) {
  g_entry_calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
  return TRUE;
}

// Taken before the redirect exists, since making one looks up modules itself.
decltype(&GetModuleHandleW) g_real_get_module_handle = nullptr;

HMODULE WINAPI RecordingGetModuleHandleW(LPCWSTR name) {
  g_entry_calls.push_back(name == nullptr ? "GetModuleHandleW null" : "GetModuleHandleW " + Narrow(name));
  return g_real_get_module_handle(name);
}

VOID WINAPI ReturningExitProcess(UINT exit_code) {
  g_entry_calls.push_back("ExitProcess " + std::to_string(exit_code));
  ExitThread(exit_code);
}

}  // namespace

extern "C" void ProgramEntry();

namespace {

TEST_F(InstallerDriverTest, EntryRestrictsLibrarySearchToTheSystemDirectoryFirst) {
  ImportRedirect command_line("kernel32.dll", "GetCommandLineW", reinterpret_cast<const void*>(&FakeGetCommandLineW));
  ImportRedirect directories("kernel32.dll", "SetDefaultDllDirectories",
                             reinterpret_cast<const void*>(&RecordingSetDefaultDllDirectories));
  ImportRedirect exit("kernel32.dll", "ExitProcess", reinterpret_cast<const void*>(&ReturningExitProcess));
  g_real_get_module_handle = &GetModuleHandleW;
  ImportRedirect module_handle("kernel32.dll", "GetModuleHandleW",
                               reinterpret_cast<const void*>(&RecordingGetModuleHandleW));
  g_command_line = L"installer.exe";
  g_entry_calls.clear();
  const HANDLE entry = CreateThread(
      nullptr, 0,
      [](void*) -> DWORD {
        ProgramEntry();
        return 0;
      },
      nullptr, 0, nullptr);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(WaitForSingleObject(entry, 60000), WAIT_OBJECT_0);
  CloseHandle(entry);
  EXPECT_EQ(g_entry_calls,
            (std::vector<std::string>{"SetDefaultDllDirectories " + std::to_string(LOAD_LIBRARY_SEARCH_SYSTEM32),
                                      "GetModuleHandleW null", "ExitProcess 112"}));
}

// Runs of real installers' payloads in this process, with the installer's own path made to point
// into a directory of the test's: the working set must be trimmed once, after the payload is out
// and any patch run is over, and before the setup program starts. The program the run unpacked
// must stay held until the start has returned: an open for writing made from inside the start,
// as a scanner or another process would make it just then, must meet a sharing violation.
std::vector<std::wstring> g_run_events;
ImportRedirect* g_start_redirect = nullptr;
std::wstring g_run_directory;
std::vector<DWORD> g_unpacked_program_write_errors;

BOOL WINAPI RecordingSetProcessWorkingSetSize(HANDLE, SIZE_T, SIZE_T) {
  g_run_events.push_back(L"trim");
  return TRUE;
}

BOOL WINAPI RecordingCreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES process,
                                    LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                    LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
  const std::wstring name = application;
  g_run_events.push_back(L"start " + name.substr(name.rfind(L'\\') + 1));
  if (name.rfind(g_run_directory, 0) == 0) {
    const HANDLE writer =
        CreateFileW(application, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    g_unpacked_program_write_errors.push_back(writer == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  }
  return g_start_redirect->Original<decltype(&CreateProcessW)>()(application, command_line, process, thread, inherit,
                                                                 flags, environment, directory, startup, information);
}

class FixtureRunTest : public InstallerDriverTest {
 protected:
  ExitOutcome RunFixture(const std::wstring& file_name) {
    LoadedModule module = LoadFixture(file_name);
    EXPECT_NE(module, nullptr) << Narrow(file_name);
    const std::wstring path = home_ / L"installer.exe";
    g_module_path = path.c_str();
    g_module_path_result = static_cast<DWORD>(path.size());
    g_module_path_error = 0;
    g_command_line = L"installer.exe";
    g_run_events.clear();
    g_run_directory = home_.Path();
    g_unpacked_program_write_errors.clear();
    ImportRedirect module_path("kernel32.dll", "GetModuleFileNameW",
                               reinterpret_cast<const void*>(&FakeGetModuleFileNameW));
    ImportRedirect command_line("kernel32.dll", "GetCommandLineW", reinterpret_cast<const void*>(&FakeGetCommandLineW));
    ImportRedirect trim("kernel32.dll", "SetProcessWorkingSetSize",
                        reinterpret_cast<const void*>(&RecordingSetProcessWorkingSetSize));
    ImportRedirect start("kernel32.dll", "CreateProcessW", reinterpret_cast<const void*>(&RecordingCreateProcessW));
    g_start_redirect = &start;
    const ExitOutcome outcome = RunInstaller(module.get());
    g_start_redirect = nullptr;
    return outcome;
  }

  TemporaryDirectory home_{L"fixture-run"};
  TemporaryDirectory installed_{L"1.0.0"};
  TemporaryDirectory records_{L"records"};
  EnvironmentVariableScope record_{L"SAMPLE_SETUP_RECORD", (records_ / L"record.txt").c_str()};
  EnvironmentVariableScope machine_{L"HalvexUpdateIsMachine", nullptr};
  RegistryValueScope installed_setup_{HKEY_CURRENT_USER, L"Software\\Zarvelo", L"UninstallString", KEY_WOW64_32KEY};
};

TEST_F(FixtureRunTest, WorkingSetIsTrimmedOnceJustBeforeTheStillHeldSetupProgramStarts) {
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  const ExitOutcome outcome = RunFixture(L"demo_installer.exe");
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.windows_error;
  EXPECT_EQ(g_run_events, (std::vector<std::wstring>{L"trim", L"start setup.exe"}));
  EXPECT_EQ(g_unpacked_program_write_errors, std::vector<DWORD>{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(ListDirectory(home_.Path()), Names{});
}

TEST_F(FixtureRunTest, PatchPathTrimsOnceBetweenThePatchRunAndTheStillHeldSetupProgram) {
  ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"sample_setup.exe", installed_ / L"setup.exe"));
  ASSERT_TRUE(installed_setup_.SetString(L"\"" + installed_ / L"setup.exe" + L"\""));
  EnvironmentVariableScope per_user_root(L"LOCALAPPDATA", (home_ / L"appdata").c_str());
  const ExitOutcome outcome = RunFixture(L"patch_installer.exe");
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.windows_error;
  EXPECT_EQ(g_run_events, (std::vector<std::wstring>{L"start setup.exe", L"trim", L"start setup.exe"}));
  // The patch run starts the installed program, outside the scratch directory; the new one is held.
  EXPECT_EQ(g_unpacked_program_write_errors, std::vector<DWORD>{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(ListDirectory(home_.Path()), Names{L"appdata"}) << "nothing of the run is left";
}

}  // namespace
