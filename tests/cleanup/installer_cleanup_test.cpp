// A whole run that fails at extraction cleans up after itself unless the user switched that off:
// the installer without payload, started as a child process beside nothing but itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

struct CleanupCase {
  const char* name;
  const wchar_t* value;  // null: no value at all
  bool scratch_directory_left;
};

class InstallerCleanupTest : public testing::TestWithParam<CleanupCase> {};

TEST_P(InstallerCleanupTest, FailedExtractionRemovesTheScratchDirectoryUnlessSwitchedOff) {
  const CleanupCase& c = GetParam();
  RegistryValueScope cleanup_value(HKEY_CURRENT_USER, L"Software\\Zarvelo", L"DrelixInstallerCleanup");
  ASSERT_TRUE(c.value != nullptr ? cleanup_value.SetString(c.value) : cleanup_value.Remove());

  TemporaryDirectory directory(L"cleanup");
  const std::wstring installer = directory / L"installer.exe";
  ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"installer_stub.exe", installer));
  const ChildResult result = RunChild(installer, L"installer.exe");
  ASSERT_TRUE(result.started) << "start error " << result.start_error;
  EXPECT_EQ(result.exit_code, 112u) << "no payload: extraction fails";

  std::vector<std::wstring> names = ListDirectory(directory.Path());
  if (!c.scratch_directory_left) {
    EXPECT_EQ(names, std::vector<std::wstring>{L"installer.exe"});
    return;
  }
  ASSERT_EQ(names.size(), 2u);
  const std::wstring scratch = names[0] == L"installer.exe" ? names[1] : names[0];
  EXPECT_EQ(scratch.rfind(L"QV_", 0), 0u);
  EXPECT_EQ(GetFileAttributesW((directory / scratch).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_TRUE(ListDirectory(directory / scratch).empty()) << "nothing was written into it";
}

INSTANTIATE_TEST_SUITE_P(Values, InstallerCleanupTest,
                         testing::Values(CleanupCase{"NoValue", nullptr, false}, CleanupCase{"One", L"1", false},
                                         CleanupCase{"Zero", L"0", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
