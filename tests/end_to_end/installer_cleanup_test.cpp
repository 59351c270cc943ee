// A whole run that fails at extraction cleans up after itself unless the user switched that off:
// the installer without payload, started as a child process beside nothing but itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conventions/exit_outcome.h"
#include "support/child_process.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

struct CleanupCase {
  const char* name;
  const wchar_t* value;  // null: no value at all
  bool scratch_directory_left;
  size_t directory_length;  // 0: the temporary directory as it comes
};

class InstallerCleanupTest : public testing::TestWithParam<CleanupCase> {};

TEST_P(InstallerCleanupTest, FailedExtractionRemovesTheScratchDirectoryUnlessSwitchedOff) {
  const CleanupCase& c = GetParam();
  RegistryValueScope cleanup_value(HKEY_CURRENT_USER, L"Software\\Zarvelo", L"DrelixInstallerCleanup");
  ASSERT_TRUE(c.value != nullptr ? cleanup_value.SetString(c.value) : cleanup_value.Remove());

  TemporaryDirectory temporary(L"cleanup");
  std::wstring directory = temporary.Path();
  if (c.directory_length != 0) {
    directory += std::wstring(c.directory_length - directory.size() - 1, L'd') + L"\\";
    ASSERT_EQ(directory.size(), c.directory_length);
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
  }
  const std::wstring installer = directory + L"installer.exe";
  ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"installer_stub.exe", installer));
  const ChildResult result = RunChild(installer, L"installer.exe");
  ASSERT_TRUE(result.started) << "start error " << result.start_error;
  EXPECT_EQ(result.exit_code, EXIT_ARCHIVE_EXTRACTION_FAILED) << "no payload: extraction fails";

  std::vector<std::wstring> names = ListDirectory(directory);
  if (!c.scratch_directory_left) {
    EXPECT_EQ(names, std::vector<std::wstring>{L"installer.exe"});
    return;
  }
  ASSERT_EQ(names.size(), 2u);
  const std::wstring scratch = names[0] == L"installer.exe" ? names[1] : names[0];
  EXPECT_EQ(scratch.rfind(L"QV_", 0), 0u);
  EXPECT_EQ(scratch.size(), 12u);
  EXPECT_EQ(GetFileAttributesW((directory + scratch).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_TRUE(ListDirectory(directory + scratch).empty()) << "nothing was written into it";
}

INSTANTIATE_TEST_SUITE_P(Values, InstallerCleanupTest,
                         testing::Values(CleanupCase{"NoValue", nullptr, false, 0}, CleanupCase{"One", L"1", false, 0},
                                         CleanupCase{"Zero", L"0", true, 0},
                                         // The longest executable directory: a 259-unit scratch path.
                                         CleanupCase{"LongestDirectory", nullptr, false, 246},
                                         CleanupCase{"LongestDirectoryZero", L"0", true, 246}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
