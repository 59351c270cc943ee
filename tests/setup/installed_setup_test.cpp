// Finding the installed setup program in the real registry: the stored value's shapes, its size
// limits, its type, the version test, and which hive and registry view are read.
#include <gtest/gtest.h>

#include <string>

#include "conventions/exit_outcome.h"
#include "setup/installed_setup.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

constexpr wchar_t kKey[] = L"Software\\Zarvelo";
constexpr wchar_t kValue[] = L"UninstallString";

bool KeyExists(HKEY hive, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive, kKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

struct StoredValue {
  const char* name;
  DWORD type = REG_SZ;
  std::wstring data;           // stored as it is: a terminator is stored only when data holds one
  DWORD extra_byte_count = 0;  // bytes beyond data, for odd sizes (at most 1, taken from the next unit)
  const wchar_t* previous_version = nullptr;
  uint32_t exit_code = EXIT_OK;
  uint32_t windows_error = 0;
  std::wstring path = {};
};

class StoredValueTest : public testing::TestWithParam<StoredValue> {};

TEST_P(StoredValueTest, GivesThePathOrTheReason) {
  const StoredValue& c = GetParam();
  RegistryValueScope value(HKEY_CURRENT_USER, kKey, kValue, KEY_WOW64_32KEY);
  std::wstring bytes = c.data + L'?';
  ASSERT_TRUE(value.Set(c.type, bytes.data(), static_cast<DWORD>(c.data.size() * 2 + c.extra_byte_count)));

  PathBuffer path;
  const ExitOutcome outcome = FindInstalledSetup(false, c.previous_version, path);
  EXPECT_EQ(outcome.exit_code, c.exit_code);
  EXPECT_EQ(outcome.windows_error, c.windows_error);
  if (c.exit_code == EXIT_OK) {
    EXPECT_EQ(std::wstring(path.units), c.path);
  }
}

const std::wstring kSetup = L"C:\\Apps\\Drelix\\1.0.0\\setup.exe";
const std::wstring kZero(1, L'\0');

INSTANTIATE_TEST_SUITE_P(
    Shapes, StoredValueTest,
    testing::Values(StoredValue{.name = "Quoted", .data = L"\"" + kSetup + L"\"" + kZero, .path = kSetup},
                    StoredValue{.name = "Plain", .data = kSetup + kZero, .path = kSetup},
                    StoredValue{.name = "QuoteAtEndOnly", .data = kSetup + L"\"" + kZero, .path = kSetup + L"\""},
                    StoredValue{.name = "LowerCaseDrive", .data = L"d:\\setup.exe" + kZero, .path = L"d:\\setup.exe"},
                    // Only a local absolute path is a registration: anything else would start a program found
                    // in the current directory or reach out over the network.
                    StoredValue{.name = "TwoQuotesOnly",
                                .data = L"\"\"" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "OneQuote",
                                .data = L"\"" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "QuoteAtStartOnly",
                                .data = L"\"" + kSetup + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "QuotedWithArguments",
                                .data = L"\"" + kSetup + L"\" --uninstall" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "Relative",
                                .data = L"setup.exe" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "QuotedRelative",
                                .data = L"\"setup.exe\"" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "CurrentDirectory",
                                .data = L".\\setup.exe" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "DriveRelative",
                                .data = L"C:setup.exe" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "RootRelative",
                                .data = L"\\Apps\\setup.exe" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "NetworkShare",
                                .data = L"\"\\\\server\\share\\setup.exe\"" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "DevicePath",
                                .data = L"\\\\?\\C:\\setup.exe" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "NoTerminator", .data = kSetup, .path = kSetup},
                    StoredValue{.name = "OddLastByteDropped", .data = kSetup, .extra_byte_count = 1, .path = kSetup},
                    StoredValue{.name = "EmptyNoBytes",
                                .data = L"",
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "EmptyOneByte",
                                .data = L"",
                                .extra_byte_count = 1,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "EmptyWithTerminator",
                                .data = kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_BAD_PATHNAME},
                    StoredValue{.name = "EmptyButVersionRequired",
                                .data = L"",
                                .previous_version = L"1.0.0",
                                .exit_code = EXIT_INSTALLED_VERSION_MISMATCH},
                    StoredValue{.name = "Longest259Terminated",
                                .data = L"C:\\" + std::wstring(256, L'p') + kZero,
                                .path = L"C:\\" + std::wstring(256, L'p')},
                    StoredValue{.name = "Longest259Unterminated",
                                .data = L"C:\\" + std::wstring(256, L'p'),
                                .path = L"C:\\" + std::wstring(256, L'p')},
                    StoredValue{.name = "Unterminated260",
                                .data = std::wstring(260, L'p'),
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_MORE_DATA},
                    StoredValue{.name = "LongerThan520Bytes",
                                .data = std::wstring(260, L'p') + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_MORE_DATA},
                    StoredValue{.name = "ExpandString",
                                .type = REG_EXPAND_SZ,
                                .data = L"%ProgramFiles%\\setup.exe" + kZero,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_NOT_SUPPORTED},
                    StoredValue{.name = "Binary",
                                .type = REG_BINARY,
                                .data = kSetup,
                                .exit_code = EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                                .windows_error = ERROR_NOT_SUPPORTED},
                    StoredValue{.name = "VersionFound",
                                .data = L"\"" + kSetup + L"\"" + kZero,
                                .previous_version = L"1.0.0",
                                .path = kSetup},
                    StoredValue{.name = "VersionFoldsAsciiCase",
                                .data = L"C:\\Apps\\DRELIX-BETA\\setup.exe" + kZero,
                                .previous_version = L"drelix-Beta",
                                .path = L"C:\\Apps\\DRELIX-BETA\\setup.exe"},
                    StoredValue{.name = "VersionDoesNotFoldOtherLetters",
                                .data = L"C:\\Apps\\\u00C9dition\\setup.exe" + kZero,
                                .previous_version = L"\u00E9dition",
                                .exit_code = EXIT_INSTALLED_VERSION_MISMATCH},
                    StoredValue{.name = "VersionIsASubstringTest",
                                .data = L"C:\\Apps\\11.2.0\\setup.exe" + kZero,
                                .previous_version = L"1.2",
                                .path = L"C:\\Apps\\11.2.0\\setup.exe"},
                    StoredValue{.name = "VersionMismatch",
                                .data = kSetup + kZero,
                                .previous_version = L"2.0.0",
                                .exit_code = EXIT_INSTALLED_VERSION_MISMATCH},
                    StoredValue{.name = "VersionTestedBeforeQuotesGo",
                                .data = L"\"" + kSetup + L"\"" + kZero,
                                .previous_version = L"setup.exe\"",
                                .path = kSetup},
                    StoredValue{.name = "EmptyVersionAlwaysPasses",
                                .data = kSetup + kZero,
                                .previous_version = L"",
                                .path = kSetup}),
    [](const testing::TestParamInfo<StoredValue>& info) { return std::string(info.param.name); });

TEST(FindInstalledSetupTest, MissingValueOrKeyGives110WithFileNotFound) {
  RegistryValueScope value(HKEY_CURRENT_USER, kKey, kValue, KEY_WOW64_32KEY);
  ASSERT_TRUE(value.Set(REG_SZ, L"", 0));
  ASSERT_TRUE(value.Remove());
  PathBuffer path;
  ExitOutcome outcome = FindInstalledSetup(false, nullptr, path);
  EXPECT_EQ(outcome.exit_code, EXIT_INSTALLED_SETUP_NOT_REGISTERED);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));

  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)) << "no other test leaves the machine-wide key";
  outcome = FindInstalledSetup(true, nullptr, path);
  EXPECT_EQ(outcome.exit_code, EXIT_INSTALLED_SETUP_NOT_REGISTERED);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(FindInstalledSetupTest, ReadsOnlyTheHiveTheInstallLevelSelects) {
  PathBuffer path;
  {
    RegistryValueScope user(HKEY_CURRENT_USER, kKey, kValue, KEY_WOW64_32KEY);
    ASSERT_TRUE(user.SetString(L"C:\\user\\setup.exe"));
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY));
    EXPECT_EQ(FindInstalledSetup(true, nullptr, path).exit_code, EXIT_INSTALLED_SETUP_NOT_REGISTERED);
  }
  {
    RegistryValueScope machine(HKEY_LOCAL_MACHINE, kKey, kValue, KEY_WOW64_32KEY);
    ASSERT_TRUE(machine.SetString(L"C:\\machine\\setup.exe"));
    RegistryValueScope user(HKEY_CURRENT_USER, kKey, kValue, KEY_WOW64_32KEY);
    ASSERT_TRUE(user.Remove());
    EXPECT_EQ(FindInstalledSetup(false, nullptr, path).exit_code, EXIT_INSTALLED_SETUP_NOT_REGISTERED);

    const ExitOutcome outcome = FindInstalledSetup(true, nullptr, path);
    EXPECT_EQ(outcome.exit_code, EXIT_OK);
    EXPECT_STREQ(path.units, L"C:\\machine\\setup.exe");
  }
}

TEST(FindInstalledSetupTest, KeyOnlyInThe64BitViewIsNotFound) {
  // Only the machine-wide software key has two views; the per-user one is shared by both.
  PathBuffer path;
  RegistryValueScope native(HKEY_LOCAL_MACHINE, kKey, kValue, KEY_WOW64_64KEY);
  ASSERT_TRUE(native.SetString(L"C:\\native\\setup.exe"));
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)) << "the two views must be apart for this test";
  const ExitOutcome outcome = FindInstalledSetup(true, nullptr, path);
  EXPECT_EQ(outcome.exit_code, EXIT_INSTALLED_SETUP_NOT_REGISTERED);
  EXPECT_EQ(outcome.windows_error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
