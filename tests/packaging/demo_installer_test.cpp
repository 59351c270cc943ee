// The demo installer end to end, started as a real process: with clean-up switched off its scratch
// directory keeps exactly the archive and the setup program, byte for byte as they were packaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

using Names = std::vector<std::wstring>;

TEST(DemoInstallerTest, LeavesTheArchiveAndSetupExeAndNoCabinet) {
  RegistryValueScope cleanup(HKEY_CURRENT_USER, L"Software\\Zarvelo", L"DrelixInstallerCleanup");
  ASSERT_TRUE(cleanup.SetString(L"0"));
  EnvironmentVariableScope setup_exits_at_once(L"SAMPLE_SETUP_EXIT_CODE", L"0");
  TemporaryDirectory directory(L"demo");
  const std::wstring installer = directory / L"demo_installer.exe";
  ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"demo_installer.exe", installer));

  const ChildResult result = RunChild(installer, L"demo_installer.exe");
  ASSERT_TRUE(result.started) << "start error " << result.start_error;
  EXPECT_EQ(result.exit_code, 0u);

  const Names entries = ListDirectory(directory.Path());
  ASSERT_EQ(entries.size(), 2u);
  const std::wstring& scratch = entries[0];
  ASSERT_EQ(scratch.rfind(L"QV_", 0), 0u) << Narrow(scratch);
  EXPECT_EQ(entries[1], L"demo_installer.exe");
  const std::wstring scratch_path = directory / scratch + L"\\";
  EXPECT_EQ(ListDirectory(scratch_path), (Names{L"DRELIX.PACKED.7Z", L"setup.exe"}));
  const std::string archive = ReadFileBytes(scratch_path + L"DRELIX.PACKED.7Z");
  EXPECT_EQ(archive.substr(0, 6), std::string("7z\xBC\xAF\x27\x1C", 6));
  EXPECT_EQ(archive, ReadFileBytes(ProgramDirectory() + L"demo_payload\\DRELIX.PACKED.7Z"));
  EXPECT_EQ(ReadFileBytes(scratch_path + L"setup.exe"), ReadFileBytes(ProgramDirectory() + L"sample_setup.exe"));
}

}  // namespace
