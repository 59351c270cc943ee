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
  DWORD type;
  std::wstring data;       // stored as it is: a terminator is stored only when data holds one
  DWORD extra_byte_count;  // bytes beyond data, for odd sizes (at most 1, taken from the next unit)
  const wchar_t* previous_version;
  uint32_t exit_code;
  uint32_t windows_error;
  std::wstring path;
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
    testing::Values(
        StoredValue{"Quoted", REG_SZ, L"\"" + kSetup + L"\"" + kZero, 0, nullptr, 0, 0, kSetup},
        StoredValue{"Plain", REG_SZ, kSetup + kZero, 0, nullptr, 0, 0, kSetup},
        StoredValue{"QuoteAtEndOnly", REG_SZ, kSetup + L"\"" + kZero, 0, nullptr, 0, 0, kSetup + L"\""},
        StoredValue{"LowerCaseDrive", REG_SZ, L"d:\\setup.exe" + kZero, 0, nullptr, 0, 0, L"d:\\setup.exe"},
        // Only a local absolute path is a registration: anything else would start a program found
        // in the current directory or reach out over the network.
        StoredValue{"TwoQuotesOnly", REG_SZ, L"\"\"" + kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"OneQuote", REG_SZ, L"\"" + kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"QuoteAtStartOnly", REG_SZ, L"\"" + kSetup + kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"QuotedWithArguments", REG_SZ, L"\"" + kSetup + L"\" --uninstall" + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME, L""},
        StoredValue{"Relative", REG_SZ, L"setup.exe" + kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"QuotedRelative", REG_SZ, L"\"setup.exe\"" + kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"CurrentDirectory", REG_SZ, L".\\setup.exe" + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME, L""},
        StoredValue{"DriveRelative", REG_SZ, L"C:setup.exe" + kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"RootRelative", REG_SZ, L"\\Apps\\setup.exe" + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME, L""},
        StoredValue{"NetworkShare", REG_SZ, L"\"\\\\server\\share\\setup.exe\"" + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME, L""},
        StoredValue{"DevicePath", REG_SZ, L"\\\\?\\C:\\setup.exe" + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME, L""},
        StoredValue{"NoTerminator", REG_SZ, kSetup, 0, nullptr, 0, 0, kSetup},
        StoredValue{"OddLastByteDropped", REG_SZ, kSetup, 1, nullptr, 0, 0, kSetup},
        StoredValue{"EmptyNoBytes", REG_SZ, L"", 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME,
                    L""},
        StoredValue{"EmptyOneByte", REG_SZ, L"", 1, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_BAD_PATHNAME,
                    L""},
        StoredValue{"EmptyWithTerminator", REG_SZ, kZero, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_BAD_PATHNAME, L""},
        StoredValue{"EmptyButVersionRequired", REG_SZ, L"", 0, L"1.0.0", EXIT_INSTALLED_VERSION_MISMATCH, 0, L""},
        StoredValue{"Longest259Terminated", REG_SZ, L"C:\\" + std::wstring(256, L'p') + kZero, 0, nullptr, 0, 0,
                    L"C:\\" + std::wstring(256, L'p')},
        StoredValue{"Longest259Unterminated", REG_SZ, L"C:\\" + std::wstring(256, L'p'), 0, nullptr, 0, 0,
                    L"C:\\" + std::wstring(256, L'p')},
        StoredValue{"Unterminated260", REG_SZ, std::wstring(260, L'p'), 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED,
                    ERROR_MORE_DATA, L""},
        StoredValue{"LongerThan520Bytes", REG_SZ, std::wstring(260, L'p') + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_MORE_DATA, L""},
        StoredValue{"ExpandString", REG_EXPAND_SZ, L"%ProgramFiles%\\setup.exe" + kZero, 0, nullptr,
                    EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_NOT_SUPPORTED, L""},
        StoredValue{"Binary", REG_BINARY, kSetup, 0, nullptr, EXIT_INSTALLED_SETUP_NOT_REGISTERED, ERROR_NOT_SUPPORTED,
                    L""},
        StoredValue{"VersionFound", REG_SZ, L"\"" + kSetup + L"\"" + kZero, 0, L"1.0.0", 0, 0, kSetup},
        StoredValue{"VersionFoldsAsciiCase", REG_SZ, L"C:\\Apps\\DRELIX-BETA\\setup.exe" + kZero, 0, L"drelix-Beta", 0,
                    0, L"C:\\Apps\\DRELIX-BETA\\setup.exe"},
        StoredValue{"VersionDoesNotFoldOtherLetters", REG_SZ, L"C:\\Apps\\\u00C9dition\\setup.exe" + kZero, 0,
                    L"\u00E9dition", EXIT_INSTALLED_VERSION_MISMATCH, 0, L""},
        StoredValue{"VersionIsASubstringTest", REG_SZ, L"C:\\Apps\\11.2.0\\setup.exe" + kZero, 0, L"1.2", 0, 0,
                    L"C:\\Apps\\11.2.0\\setup.exe"},
        StoredValue{"VersionMismatch", REG_SZ, kSetup + kZero, 0, L"2.0.0", EXIT_INSTALLED_VERSION_MISMATCH, 0, L""},
        StoredValue{"VersionTestedBeforeQuotesGo", REG_SZ, L"\"" + kSetup + L"\"" + kZero, 0, L"setup.exe\"", 0, 0,
                    kSetup},
        StoredValue{"EmptyVersionAlwaysPasses", REG_SZ, kSetup + kZero, 0, L"", 0, 0, kSetup}),
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
