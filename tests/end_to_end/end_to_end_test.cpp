// Whole installers run as child processes, as a user or an updater starts them: the demo installer
// installs version 1 of the product and registers it, the patch installer rebuilds the setup program
// from the installed one and updates the product to version 2, and every failure a real run can meet
// ends with its own exit code and leaves nothing behind.
//
// Each test copies the installers it runs into a directory of its own, where their scratch
// directories appear, and points the sample setup program's per-user and machine-wide install roots
// (%LOCALAPPDATA% and SAMPLE_SETUP_PROGRAM_FILES) at directories of its own. The registry values the runs write are put
// back afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "conventions/exit_outcome.h"
#include "setup_exit_codes.h"
#include "support/child_process.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

constexpr wchar_t kKey[] = L"Software\\Zarvelo";
const std::wstring kVersion1 = SAMPLE_SETUP_VERSION_1;
const std::wstring kVersion2 = SAMPLE_SETUP_VERSION_2;

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

bool MakeDirectories(const std::wstring& directory) {
  for (size_t slash = directory.find(L'\\', 3); slash != std::wstring::npos; slash = directory.find(L'\\', slash + 1)) {
    if (!CreateDirectoryW(directory.substr(0, slash).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return true;
}

// The UninstallString in the 32-bit view of a hive, or "(none)".
std::wstring RegisteredSetup(HKEY hive) {
  wchar_t value[600] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  if (RegGetValueW(hive, kKey, L"UninstallString", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return L"(none)";
  }
  return value;
}

// The scratch directory a recorded command line names: what precedes "setup.exe" in its first token.
std::string ScratchOf(const std::string& command_line) {
  const size_t end = command_line.find("setup.exe\"");
  if (command_line.empty() || command_line[0] != '"' || end == std::string::npos) return {};
  return command_line.substr(1, end - 1);
}

class EndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(user_setup_.Remove());
    ASSERT_TRUE(machine_setup_.Remove());
    ASSERT_TRUE(cleanup_value_.Remove());
  }

  // Copies a built installer into the test's directory; its scratch directory appears beside it.
  std::wstring Place(const std::wstring& name) {
    const std::wstring path = home_ / name;
    EXPECT_TRUE(CopyFileTo(ProgramDirectory() + name, path)) << Narrow(name);
    return path;
  }

  // arguments follow the quoted program name as they are, leading blank included.
  DWORD Run(const std::wstring& installer, const std::wstring& arguments = L"") {
    const ChildResult result = RunChild(installer, L"\"" + installer + L"\"" + arguments);
    EXPECT_TRUE(result.started) << "error " << result.start_error;
    return result.exit_code;
  }

  std::vector<std::string> Recorded() const { return RecordedCommandLines(record_); }

  std::vector<std::wstring> ScratchDirectories() const {
    std::vector<std::wstring> found;
    for (const std::wstring& name : ScratchDirectoryNames(home_.Path())) found.push_back(home_ / name + L"\\");
    return found;
  }

  static std::wstring InstallDirectory(const TemporaryDirectory& root, const std::wstring& version) {
    return root / L"Zarvelo\\Drelix\\" + version + L"\\";
  }

  // Puts a program where an installed setup program of the given version would be, and registers it.
  std::wstring RegisterFakeInstall(const std::wstring& program_file, const std::wstring& file_name) {
    const std::wstring directory = InstallDirectory(per_user_, kVersion1);
    EXPECT_TRUE(MakeDirectories(directory));
    if (!program_file.empty()) {
      EXPECT_TRUE(CopyFileTo(program_file, directory + file_name));
    }
    EXPECT_TRUE(user_setup_.SetString(L"\"" + directory + file_name + L"\""));
    return directory + file_name;
  }

  TemporaryDirectory home_{L"e2e"};
  TemporaryDirectory per_user_{L"localappdata"};
  TemporaryDirectory machine_{L"programfiles"};
  TemporaryDirectory records_{L"records"};
  std::wstring record_ = records_ / L"record.txt";
  EnvironmentVariableScope record_variable_{L"SAMPLE_SETUP_RECORD", record_.c_str()};
  EnvironmentVariableScope exit_code_variable_{L"SAMPLE_SETUP_EXIT_CODE", nullptr};
  EnvironmentVariableScope machine_variable_{L"HalvexUpdateIsMachine", nullptr};
  EnvironmentVariableScope per_user_root_{L"LOCALAPPDATA", WithoutTrailingBackslash(per_user_.Path()).c_str()};
  EnvironmentVariableScope machine_root_{L"SAMPLE_SETUP_PROGRAM_FILES",
                                         WithoutTrailingBackslash(machine_.Path()).c_str()};
  RegistryValueScope user_setup_{HKEY_CURRENT_USER, kKey, L"UninstallString", KEY_WOW64_32KEY};
  RegistryValueScope machine_setup_{HKEY_LOCAL_MACHINE, kKey, L"UninstallString", KEY_WOW64_32KEY};
  RegistryValueScope cleanup_value_{HKEY_CURRENT_USER, kKey, L"DrelixInstallerCleanup"};
};

TEST_F(EndToEndTest, DemoInstallerInstallsAndRegistersTheProduct) {
  const std::wstring installer = Place(L"demo_installer.exe");
  ASSERT_EQ(Run(installer, L" --demo-flag"), 0u);

  const std::vector<std::string> lines = Recorded();
  ASSERT_EQ(lines.size(), 1u);
  const std::string scratch = ScratchOf(lines[0]);
  EXPECT_EQ(scratch.rfind(Narrow(home_ / L"QV_"), 0), 0u) << lines[0];
  EXPECT_EQ(lines[0], "\"" + scratch + "setup.exe\" --install-archive=\"" + scratch + "DRELIX.PACKED.7Z\" --demo-flag");

  const std::wstring installed = InstallDirectory(per_user_, kVersion1);
  EXPECT_EQ(ReadFileBytes(installed + L"setup.exe"), ReadFileBytes(ProgramDirectory() + L"sample_setup.exe"));
  EXPECT_EQ(ReadFileBytes(installed + L"DRELIX.PACKED.7Z").substr(0, 6), std::string("7z\xBC\xAF\x27\x1C", 6));
  const std::string summary = ReadFileBytes(installed + L"install-info.txt");
  EXPECT_NE(summary.find("version=" + Narrow(kVersion1) + "\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("level=per-user\n"), std::string::npos) << summary;
  EXPECT_EQ(RegisteredSetup(HKEY_CURRENT_USER), L"\"" + installed + L"setup.exe\"");
  EXPECT_EQ(RegisteredSetup(HKEY_LOCAL_MACHINE), L"(none)");
  EXPECT_EQ(ListDirectory(home_.Path()), std::vector<std::wstring>{L"demo_installer.exe"});
}

TEST_F(EndToEndTest, PatchInstallerUpdatesTheInstalledProduct) {
  ASSERT_EQ(Run(Place(L"demo_installer.exe")), 0u);
  const std::wstring version1 = InstallDirectory(per_user_, kVersion1) + L"setup.exe";

  // Both runs get the installer's own arguments after the switches it fixes, which they keep.
  const std::wstring elsewhere = home_ / L"elsewhere.exe";
  ASSERT_EQ(Run(Place(L"patch_installer.exe"), L" --new-setup-exe=\"" + elsewhere + L"\""), 0u);
  const std::string passed_on = " --new-setup-exe=\"" + Narrow(elsewhere) + "\"";
  const std::vector<std::string> lines = Recorded();
  ASSERT_EQ(lines.size(), 3u) << "install, patch run, install";
  const std::string scratch = ScratchOf(lines[2]);
  EXPECT_EQ(lines[1], "\"" + Narrow(version1) + "\" --update-setup-exe=\"" + scratch +
                          "SETUP.PATCH\" --new-setup-exe=\"" + scratch + "setup.exe\"" + passed_on);
  EXPECT_EQ(lines[2], "\"" + scratch + "setup.exe\" --install-archive=\"" + scratch +
                          "DRELIX.PACKED.7Z\" --previous-version=\"" + Narrow(kVersion1) + "\"" + passed_on);
  EXPECT_FALSE(PathExists(elsewhere));

  const std::wstring installed = InstallDirectory(per_user_, kVersion2);
  EXPECT_EQ(ReadFileBytes(installed + L"setup.exe"), ReadFileBytes(ProgramDirectory() + L"sample_setup_v2.exe"));
  const std::string summary = ReadFileBytes(installed + L"install-info.txt");
  EXPECT_NE(summary.find("version=" + Narrow(kVersion2) + "\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("previous_version_received=" + Narrow(kVersion1) + "\n"), std::string::npos) << summary;
  EXPECT_EQ(RegisteredSetup(HKEY_CURRENT_USER), L"\"" + installed + L"setup.exe\"");
  EXPECT_FALSE(PathExists(InstallDirectory(per_user_, kVersion1))) << "the update replaces version 1";
  EXPECT_TRUE(ScratchDirectories().empty());
}

TEST_F(EndToEndTest, PatchRunThatFailsEndsWithItsCodeDeletesThePatchAndRunsNoSetup) {
  // Version 2 where version 1 should be: the delta is not for it, and it refuses.
  RegisterFakeInstall(ProgramDirectory() + L"sample_setup_v2.exe", L"setup.exe");
  ASSERT_TRUE(cleanup_value_.SetString(L"0"));

  EXPECT_EQ(Run(Place(L"patch_installer.exe")), SAMPLE_SETUP_DELTA_FOR_ANOTHER_PROGRAM);
  EXPECT_EQ(Recorded().size(), 1u) << "only the patch run";
  const std::vector<std::wstring> scratch = ScratchDirectories();
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_EQ(ListDirectory(scratch[0]), std::vector<std::wstring>{L"DRELIX.PACKED.7Z"});
}

TEST_F(EndToEndTest, NoRegisteredSetupOrAnotherVersionEndsTheRunAndLeavesNoScratchDirectory) {
  const std::wstring installer = Place(L"patch_installer.exe");
  EXPECT_EQ(Run(installer), EXIT_INSTALLED_SETUP_NOT_REGISTERED);
  EXPECT_TRUE(ScratchDirectories().empty());

  ASSERT_TRUE(user_setup_.SetString(L"\"C:\\Apps\\Drelix\\0.9.0\\setup.exe\""));
  EXPECT_EQ(Run(installer), EXIT_INSTALLED_VERSION_MISMATCH);
  EXPECT_TRUE(ScratchDirectories().empty());
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(EndToEndTest, VendorIconAndVersionBlockChangeNothingOfTheRun) {
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  const std::wstring installer = Place(L"vendor_installer.exe");
  EXPECT_EQ(Run(installer), 0u);
  EXPECT_TRUE(ScratchDirectories().empty());
  EXPECT_EQ(Recorded().size(), 1u) << "the setup program ran once";
}

TEST_F(EndToEndTest, CleanupSwitchedOffKeepsEverythingAfterSuccessAndFailure) {
  ASSERT_TRUE(cleanup_value_.SetString(L"0"));
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  EXPECT_EQ(Run(Place(L"demo_installer.exe")), 0u);
  std::vector<std::wstring> scratch = ScratchDirectories();
  ASSERT_EQ(scratch.size(), 1u);
  // Exactly the archive and the expanded setup program, byte for byte as they were packaged.
  EXPECT_EQ(ListDirectory(scratch[0]), (std::vector<std::wstring>{L"DRELIX.PACKED.7Z", L"setup.exe"}));
  EXPECT_EQ(ReadFileBytes(scratch[0] + L"DRELIX.PACKED.7Z"),
            ReadFileBytes(ProgramDirectory() + L"demo_payload\\DRELIX.PACKED.7Z"));
  EXPECT_EQ(ReadFileBytes(scratch[0] + L"setup.exe"), ReadFileBytes(ProgramDirectory() + L"sample_setup.exe"));
  ASSERT_TRUE(RemoveTree(scratch[0]));

  // The patch file goes as soon as the patch step has failed, clean-up or not.
  EXPECT_EQ(Run(Place(L"patch_installer.exe")), EXIT_INSTALLED_SETUP_NOT_REGISTERED);
  scratch = ScratchDirectories();
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_EQ(ListDirectory(scratch[0]), std::vector<std::wstring>{L"DRELIX.PACKED.7Z"});
}

struct MachineWideCase {
  const char* name;
  const wchar_t* machine_variable;
  const wchar_t* arguments;
};

class MachineWideTest : public EndToEndTest, public testing::WithParamInterface<MachineWideCase> {};

TEST_P(MachineWideTest, InstallAndLookupUseTheLocalMachine) {
  EnvironmentVariableScope machine(L"HalvexUpdateIsMachine", GetParam().machine_variable);
  ASSERT_EQ(Run(Place(L"demo_installer.exe"), GetParam().arguments), 0u);
  EXPECT_EQ(RegisteredSetup(HKEY_LOCAL_MACHINE), L"\"" + InstallDirectory(machine_, kVersion1) + L"setup.exe\"");
  EXPECT_EQ(RegisteredSetup(HKEY_CURRENT_USER), L"(none)");

  ASSERT_EQ(Run(Place(L"patch_installer.exe"), GetParam().arguments), 0u);
  EXPECT_EQ(RegisteredSetup(HKEY_LOCAL_MACHINE), L"\"" + InstallDirectory(machine_, kVersion2) + L"setup.exe\"");
  EXPECT_FALSE(PathExists(InstallDirectory(machine_, kVersion1)));
  EXPECT_EQ(RegisteredSetup(HKEY_CURRENT_USER), L"(none)");
  EXPECT_TRUE(ScratchDirectories().empty());
}

INSTANTIATE_TEST_SUITE_P(Switches, MachineWideTest,
                         testing::Values(MachineWideCase{"UpdaterVariable", L"1", L""},
                                         MachineWideCase{"SystemLevelSwitch", nullptr, L" --system-level"}),
                         [](const testing::TestParamInfo<MachineWideCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(EndToEndTest, PerUserLookupDoesNotSeeAMachineWideInstall) {
  {
    EnvironmentVariableScope machine(L"HalvexUpdateIsMachine", L"1");
    ASSERT_EQ(Run(Place(L"demo_installer.exe")), 0u);
  }
  EXPECT_EQ(Run(Place(L"patch_installer.exe")), EXIT_INSTALLED_SETUP_NOT_REGISTERED);
}

TEST_F(EndToEndTest, SetupExitCodeBecomesTheProcessExitCodeWithNothingLeft) {
  const std::wstring installer = Place(L"demo_installer.exe");
  for (const wchar_t* code : {L"0", L"3", L"112", L"0xC0000005"}) {
    EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", code);
    EXPECT_EQ(Run(installer), std::wcstoul(code, nullptr, 0)) << Narrow(code);
    EXPECT_TRUE(ScratchDirectories().empty()) << Narrow(code);
  }
}

TEST_F(EndToEndTest, PatchRunThatCannotStartGives119To121) {
  const std::wstring installer = Place(L"patch_installer.exe");
  TemporaryDirectory text(L"text");
  ASSERT_TRUE(WriteFileBytes(text / L"notes.exe", "this is text, not a program"));
  struct Case {
    std::wstring program_file;
    std::wstring file_name;
    DWORD exit_code;
  };
  for (const Case& c : {Case{L"", L"missing.exe", EXIT_PATCH_RUN_FILE_NOT_FOUND},
                        Case{L"", L"gone\\setup.exe", EXIT_PATCH_RUN_PATH_NOT_FOUND},
                        Case{text / L"notes.exe", L"notes.exe", EXIT_PATCH_RUN_START_FAILED}}) {
    RegisterFakeInstall(c.program_file, c.file_name);
    EXPECT_EQ(Run(installer), c.exit_code) << Narrow(c.file_name);
    EXPECT_TRUE(ScratchDirectories().empty()) << Narrow(c.file_name);
  }
}

TEST_F(EndToEndTest, PatchRunThatBuildsNothingLeavesTheInstallRunWithoutAProgram) {
  RegisterFakeInstall(ProgramDirectory() + L"sample_setup.exe", L"setup.exe");
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");  // records, succeeds, writes nothing
  EXPECT_EQ(Run(Place(L"patch_installer.exe")), EXIT_SETUP_RUN_FILE_NOT_FOUND);
  EXPECT_EQ(Recorded().size(), 1u);
  EXPECT_TRUE(ScratchDirectories().empty());
}

TEST_F(EndToEndTest, NewSetupPathThatDoesNotFitEndsTheRunWith108AndKeepsWhatWasUnpacked) {
  // An executable directory of 239 units gives a scratch directory of 252: the archive "DRELIX" (258)
  // and the patch "SETUP" (257) fit, the "setup.exe" (261) that the patch run would write does not.
  std::wstring directory = home_.Path();
  while (directory.size() < 239) {
    const size_t remaining = 239 - directory.size();
    directory += std::wstring(remaining <= 101 ? remaining - 1 : std::min<size_t>(100, remaining - 3), L'd') + L"\\";
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  }
  ASSERT_EQ(directory.size(), 239u);
  const std::wstring installer = directory + L"i.exe";  // its own path must stay within 259 units too
  ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"short_names_patch_installer.exe", installer));
  RegisterFakeInstall(ProgramDirectory() + L"sample_setup.exe", L"setup.exe");

  EXPECT_EQ(Run(installer), EXIT_PATH_TOO_LONG);
  EXPECT_TRUE(Recorded().empty()) << "neither the patch run nor the install run happens";
  std::vector<std::wstring> scratch;
  for (const std::wstring& name : ScratchDirectoryNames(directory)) scratch.push_back(directory + name + L"\\");
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_EQ(scratch[0].size(), 252u);
  EXPECT_EQ(ListDirectory(scratch[0]), (std::vector<std::wstring>{L"DRELIX", L"SETUP"})) << "no clean-up runs";
}

TEST_F(EndToEndTest, SetupThatIsNotAProgramGives124) {
  EXPECT_EQ(Run(Place(L"not_a_program_installer.exe")), EXIT_SETUP_RUN_START_FAILED);
  EXPECT_TRUE(ScratchDirectories().empty());
}

TEST_F(EndToEndTest, CommandLineThatCannotHoldThePreviousVersionGives105AndRunsNothing) {
  EXPECT_EQ(Run(Place(L"too_long_version_installer.exe")), EXIT_COMMAND_LINE_TOO_LONG);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_TRUE(ScratchDirectories().empty());
}

// Lines whose quoting hides a refused switch from one way of splitting but not from the setup
// program's C runtime end before anything exists; lines from which no program splits a switch run
// the setup program with their text as it was. The program-name part is written as a caller may
// write it: the installer itself is named apart, as CreateProcessW allows.
TEST_F(EndToEndTest, RefusalJudgesTheTextTheSetupProgramReceives) {
  const std::wstring installer = Place(L"demo_installer.exe");
  for (const wchar_t* hidden :
       {LR"(a" """" --cleanup)", LR"(C:\Dl\install.exe" """" --cleanup)", LR"("C:\Dl\install.exe"\""""" --cleanup)",
        LR"(a" """" --drelix-frame)", LR"(install.exe" "a""b" --CLEANUP)"}) {
    const ChildResult result = RunChild(installer, hidden);
    ASSERT_TRUE(result.started) << Narrow(hidden);
    EXPECT_EQ(result.exit_code, EXIT_REJECTED_SWITCH) << Narrow(hidden);
    EXPECT_TRUE(ScratchDirectories().empty()) << Narrow(hidden);
    EXPECT_TRUE(Recorded().empty()) << Narrow(hidden);
  }
  const struct {
    const wchar_t* command_line;
    const char* passed_on;
  } inside_one_argument[] = {
      {LR"(a" " --cleanup)", R"( " --cleanup)"},
      {LR"(in"st ex"e --cleanup)", R"( ex"e --cleanup)"},
      {LR"("C:\Dl\install.exe"\" a" --cleanup)", R"( \" a" --cleanup)"},
  };
  for (const auto& c : inside_one_argument) {
    const ChildResult result = RunChild(installer, c.command_line);
    ASSERT_TRUE(result.started) << Narrow(c.command_line);
    EXPECT_EQ(result.exit_code, 0u) << Narrow(c.command_line);
    const std::vector<std::string> lines = Recorded();
    ASSERT_FALSE(lines.empty()) << Narrow(c.command_line);
    const std::string& received = lines.back();
    ASSERT_GE(received.size(), std::strlen(c.passed_on));
    EXPECT_EQ(received.substr(received.size() - std::strlen(c.passed_on)), c.passed_on) << received;
  }
  EXPECT_TRUE(ScratchDirectories().empty());
}

// The installed setup program of these runs is hostile_patch_setup.exe, which writes the new setup
// program (a copy of the sample setup) and does one thing more that HOSTILE_PATCH_MODE names.
class HostilePatchRunTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    RegisterFakeInstall(ProgramDirectory() + L"hostile_patch_setup.exe", L"setup.exe");
  }

  std::string HostileRecord() const { return ReadFileBytes(hostile_record_); }

  std::wstring hostile_record_ = records_ / L"hostile.txt";
  EnvironmentVariableScope hostile_record_variable_{L"HOSTILE_PATCH_RECORD", hostile_record_.c_str()};
  EnvironmentVariableScope new_setup_source_{L"HOSTILE_NEW_SETUP_SOURCE",
                                             (ProgramDirectory() + L"sample_setup.exe").c_str()};
  // Started instead of the genuine setup program, it would end the run with 3.
  EnvironmentVariableScope planted_program_{L"HOSTILE_PLANTED_PROGRAM",
                                            (ProgramDirectory() + L"hostile_patch_setup.exe").c_str()};
  EnvironmentVariableScope exit_code_{L"SAMPLE_SETUP_EXIT_CODE", L"0"};
};

TEST_F(HostilePatchRunTest, ScratchDirectoryCannotBeSwappedWhileTheRunUsesIt) {
  EnvironmentVariableScope mode(L"HOSTILE_PATCH_MODE", L"rename");
  EXPECT_EQ(Run(Place(L"patch_installer.exe")), 0u);
  EXPECT_EQ(HostileRecord(), "rename=32\n") << "the rename must be refused as a sharing violation";
  const std::vector<std::string> lines = Recorded();
  ASSERT_EQ(lines.size(), 1u) << "the genuine setup program ran";
  EXPECT_EQ(ScratchOf(lines[0]).rfind(Narrow(home_ / L"QV_"), 0), 0u) << lines[0];
  EXPECT_EQ(ListDirectory(home_.Path()), std::vector<std::wstring>{L"patch_installer.exe"});
}

TEST_F(HostilePatchRunTest, NewSetupProgramHeldForAMomentAfterThePatchRunIsWaitedOut) {
  EnvironmentVariableScope mode(L"HOSTILE_PATCH_MODE", L"hold");
  EnvironmentVariableScope hold(L"HOSTILE_HOLD_MILLISECONDS", L"1500");
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Run(Place(L"patch_installer.exe")), 0u);
  EXPECT_GE(GetTickCount64() - start, 1400u);
  EXPECT_EQ(Recorded().size(), 1u) << "the install run happened";
  EXPECT_TRUE(ScratchDirectories().empty());
}

TEST_F(HostilePatchRunTest, PatchRunThatFailsAfterWritingEndsAtOnceAndLeavesNothing) {
  EnvironmentVariableScope mode(L"HOSTILE_PATCH_MODE", L"fail");
  const std::wstring installer = Place(L"patch_installer.exe");
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Run(installer), 7u);
  EXPECT_LT(GetTickCount64() - start, 5000u) << "no waiting for a directory that cannot be emptied";
  EXPECT_TRUE(Recorded().empty()) << "no setup program runs";
  EXPECT_TRUE(ScratchDirectories().empty());

  // With the clean-up off, everything stays, the failed run's output included.
  ASSERT_TRUE(cleanup_value_.SetString(L"0"));
  EXPECT_EQ(Run(installer), 7u);
  const std::vector<std::wstring> scratch = ScratchDirectories();
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_EQ(ListDirectory(scratch[0]), (std::vector<std::wstring>{L"DRELIX.PACKED.7Z", L"setup.exe"}));
}

// A cabinet.dll planted in the current directory, in a relative "%WINDIR%\system32" beside it (what
// an unexpanded variable names) or under a WINDIR pointed elsewhere never runs: only the system
// directory's copy is loaded. Under Wine this proves something only when Wine loads native copies
// of cabinet.dll on request (planted_cabinet_library_test asks it to); the test first shows that
// the planted file does run when loaded.
TEST_F(EndToEndTest, PlantedCabinetLibraryNeverRuns) {
  if (GetEnvironmentVariableW(L"DRELIX_NATIVE_CABINET_OVERRIDE", nullptr, 0) == 0) {
    GTEST_SKIP() << "needs Wine told to load native cabinet.dll files: run as planted_cabinet_library_test";
  }
  const std::wstring planted = ProgramDirectory() + L"planted_cabinet.dll";
  TemporaryDirectory current(L"downloads");
  TemporaryDirectory windows(L"windows");
  const std::wstring places[] = {current / L"cabinet.dll", current / L"%WINDIR%\\system32\\cabinet.dll",
                                 windows / L"system32\\cabinet.dll", home_ / L"cabinet.dll"};
  ASSERT_TRUE(CreateDirectoryW((current / L"%WINDIR%").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((current / L"%WINDIR%\\system32").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((windows / L"system32").c_str(), nullptr));
  for (const std::wstring& place : places) ASSERT_TRUE(CopyFileTo(planted, place));

  {
    TemporaryDirectory probe(L"probe");
    ASSERT_TRUE(CopyFileTo(planted, probe / L"cabinet.dll"));
    HMODULE loaded = LoadLibraryW((probe / L"cabinet.dll").c_str());
    ASSERT_NE(loaded, nullptr);
    FreeLibrary(loaded);
    ASSERT_TRUE(PathExists(probe / L"cabinet.dll.loaded")) << "Wine does not load native cabinet.dll files";
  }

  const std::wstring installer = Place(L"demo_installer.exe");
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  for (const wchar_t* windir : {static_cast<const wchar_t*>(nullptr), windows.Path().c_str()}) {
    EnvironmentVariableScope windir_variable(L"WINDIR", windir);
    const ChildResult result = RunChild(installer, L"\"" + installer + L"\"", current.Path());
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u) << "WINDIR " << (windir == nullptr ? "unset" : Narrow(windir));
  }
  for (const std::wstring& place : places) EXPECT_FALSE(PathExists(place + L".loaded")) << Narrow(place);
  EXPECT_EQ(Recorded().size(), 2u);
}

// A run killed while it writes a large archive (a timed-out updater, the task manager) leaves no
// half-written file. The kill comes the moment the archive appears; a machine fast enough to
// finish 64 MiB first gets more tries.
TEST_F(EndToEndTest, RunKilledWhileWritingTheArchiveLeavesNoPartOfIt) {
  const std::wstring installer = Place(L"memory_large_installer.exe");
  constexpr uint64_t archive_size = 64ull * 1024 * 1024;
  int killed_midway = 0;
  for (int attempt = 0; attempt < 5 && killed_midway == 0; ++attempt) {
    const HANDLE process = StartChild(installer, L"\"" + installer + L"\"");
    ASSERT_NE(process, nullptr);
    std::wstring archive;
    const ULONGLONG give_up = GetTickCount64() + 30000;
    while (archive.empty() && GetTickCount64() < give_up) {
      for (const std::wstring& scratch : ScratchDirectories()) {
        if (PathExists(scratch + L"DRELIX.PACKED.7Z")) archive = scratch + L"DRELIX.PACKED.7Z";
      }
    }
    TerminateProcess(process, 9);
    WaitForChild(process);
    ASSERT_FALSE(archive.empty()) << "the archive never appeared";
    if (PathExists(archive)) {
      // Whole, or empty: a kill in the one call between creating the file and marking it leaves
      // it with nothing written (seen about once in twenty runs, since the kill aims at the
      // moment the file appears).
      const uint64_t left = ReadFileBytes(archive).size();
      EXPECT_TRUE(left == archive_size || left == 0) << left << " bytes of the archive were left";
    } else {
      ++killed_midway;
    }
    for (const std::wstring& scratch : ScratchDirectories()) ASSERT_TRUE(RemoveTree(scratch));
  }
  if (killed_midway == 0) GTEST_SKIP() << "every kill came after the archive was complete";
}

// An updater that starts the installer with inheritable handles (redirected pipes, say) must not
// see them reach the setup program, or it could wait for ever for a pipe that program keeps open.
// The handle value is pushed high with a few hundred throw-away handles, so that a probe process
// cannot hold the same value by chance.
TEST_F(EndToEndTest, SetupProgramsInheritNoHandleOfWhoeverStartedTheInstaller) {
  std::vector<HANDLE> throw_away;
  for (int index = 0; index < 300; ++index) throw_away.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  for (HANDLE handle : throw_away) CloseHandle(handle);
  const std::wstring probe_record = records_ / L"probe.txt";
  EnvironmentVariableScope record(L"HANDLE_PROBE_RECORD", probe_record.c_str());
  EnvironmentVariableScope value(L"HANDLE_PROBE_VALUE", std::to_wstring(reinterpret_cast<uintptr_t>(event)).c_str());

  const auto start_inheriting = [](const std::wstring& program) {
    const HANDLE process = StartChild(program, L"\"" + program + L"\"", L"", true);
    return process == nullptr ? DWORD{0xFFFFFFFF} : WaitForChild(process);
  };
  // The probe does see a handle it inherits.
  ASSERT_EQ(start_inheriting(ProgramDirectory() + L"handle_probe.exe"), 0u);
  ASSERT_EQ(ReadFileBytes(probe_record), "inherited\n");
  ASSERT_TRUE(DeleteFileW(probe_record.c_str()));

  RegisterFakeInstall(ProgramDirectory() + L"handle_probe.exe", L"setup.exe");
  EXPECT_EQ(start_inheriting(Place(L"patch_installer.exe")), 0u);
  EXPECT_EQ(ReadFileBytes(probe_record), "not inherited\nnot inherited\n") << "the patch run, then the install run";
  CloseHandle(event);
}

TEST_F(EndToEndTest, TwentyInstallersStartedAtOnceBesideOneExecutable) {
  const std::wstring installer = Place(L"demo_installer.exe");
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  constexpr int kRuns = 20;
  std::vector<ChildResult> results(kRuns);
  std::vector<std::thread> threads;
  for (int index = 0; index < kRuns; ++index) {
    threads.emplace_back([&, index] { results[index] = RunChild(installer, L"\"" + installer + L"\""); });
  }
  for (std::thread& thread : threads) thread.join();

  for (int index = 0; index < kRuns; ++index) {
    EXPECT_TRUE(results[index].started) << "run " << index << ": start error " << results[index].start_error;
    EXPECT_EQ(results[index].exit_code, 0u) << "run " << index;
  }
  const std::vector<std::string> lines = Recorded();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kRuns)) << "every run's setup program recorded its command line";
  std::set<std::string> scratch;
  for (const std::string& line : lines) scratch.insert(ScratchOf(line));
  EXPECT_EQ(scratch.size(), static_cast<size_t>(kRuns)) << "each run unpacks into a directory of its own";
  EXPECT_EQ(ListDirectory(home_.Path()), std::vector<std::wstring>{L"demo_installer.exe"});
}

}  // namespace
