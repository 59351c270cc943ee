// The settings a run takes from its surroundings: its own RCDATA resource 1, the clean-up value
// under HKEY_CURRENT_USER, its command line and the updater's environment variable. All four are
// real here: fixture installers, the prefix's registry, this process's environment.
#include <gtest/gtest.h>

#include <string>

#include "driver/launch_settings.h"
#include "support/child_process.h"
#include "support/registry_value_scope.h"
#include "support/test_files.h"

namespace {

constexpr wchar_t kSoftwareKey[] = L"Software\\Zarvelo";
constexpr wchar_t kCleanupValue[] = L"DrelixInstallerCleanup";

DWORD ResourceSize(HMODULE module) {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_RCDATA);
  return resource == nullptr ? 0 : SizeofResource(module, resource);
}

TEST(PreviousVersionTest, TakenOnlyWhenWholeUnitsEndInAZero) {
  {
    const LoadedModule fixture = LoadFixture(L"previous_version_terminated.exe");
    ASSERT_NE(fixture.get(), nullptr);
    ASSERT_EQ(ResourceSize(fixture.get()), 16u);
    LaunchSettings settings;
    ASSERT_TRUE(settings.Initialize(fixture.get()));
    ASSERT_NE(settings.previous_version, nullptr);
    EXPECT_STREQ(settings.previous_version, L"1.2.3.4");
  }
  const struct {
    const wchar_t* file_name;
    DWORD size;
  } refused[] = {{L"previous_version_unterminated.exe", 14}, {L"previous_version_odd_size.exe", 7}};
  for (const auto& fixture_case : refused) {
    const LoadedModule fixture = LoadFixture(fixture_case.file_name);
    ASSERT_NE(fixture.get(), nullptr) << fixture_case.file_name;
    ASSERT_EQ(ResourceSize(fixture.get()), fixture_case.size) << fixture_case.file_name;
    LaunchSettings settings;
    ASSERT_TRUE(settings.Initialize(fixture.get()));
    EXPECT_EQ(settings.previous_version, nullptr) << fixture_case.file_name;
  }
  const LoadedModule without = LoadFixture(L"installer_stub.exe");
  ASSERT_NE(without.get(), nullptr);
  LaunchSettings settings;
  ASSERT_TRUE(settings.Initialize(without.get()));
  EXPECT_EQ(settings.previous_version, nullptr);
}

struct CleanupValueCase {
  const char* name;
  HKEY hive;
  DWORD type;
  std::string data;  // the raw bytes stored
  bool cleanup_enabled;
};

std::string Utf16Bytes(const std::wstring& text, bool with_terminator) {
  std::string bytes(reinterpret_cast<const char*>(text.c_str()), text.size() * sizeof(wchar_t));
  if (with_terminator) bytes.append(2, '\0');
  return bytes;
}

class CleanupValueTest : public testing::TestWithParam<CleanupValueCase> {};

TEST_P(CleanupValueTest, OnlyTheTextZeroUnderTheUserHiveSwitchesTheCleanUpOff) {
  const CleanupValueCase& c = GetParam();
  RegistryValueScope user_value(HKEY_CURRENT_USER, kSoftwareKey, kCleanupValue);
  RegistryValueScope machine_value(HKEY_LOCAL_MACHINE, kSoftwareKey, kCleanupValue);
  ASSERT_TRUE(user_value.Remove());
  ASSERT_TRUE(machine_value.Remove());
  RegistryValueScope& written = c.hive == HKEY_CURRENT_USER ? user_value : machine_value;
  ASSERT_TRUE(written.Set(c.type, c.data.data(), static_cast<DWORD>(c.data.size())));

  LaunchSettings settings;
  ASSERT_TRUE(settings.Initialize(GetModuleHandleW(nullptr)));
  EXPECT_EQ(settings.cleanup_enabled, c.cleanup_enabled);
}

const DWORD kZeroDword = 0;

INSTANTIATE_TEST_SUITE_P(
    Values, CleanupValueTest,
    testing::Values(
        CleanupValueCase{"ZeroWithTerminator", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"0", true), false},
        CleanupValueCase{"ZeroWithoutTerminator", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"0", false), false},
        CleanupValueCase{"ZeroWithAnOddByte", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"0", false) + "x", false},
        CleanupValueCase{"DoubleZero", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"00", true), true},
        CleanupValueCase{"False", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"false", true), true},
        CleanupValueCase{"ZeroAndSpace", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"0 ", true), true},
        CleanupValueCase{"Empty", HKEY_CURRENT_USER, REG_SZ, Utf16Bytes(L"", true), true},
        CleanupValueCase{"NoBytes", HKEY_CURRENT_USER, REG_SZ, "", true},
        CleanupValueCase{"DwordZero", HKEY_CURRENT_USER, REG_DWORD,
                         std::string(reinterpret_cast<const char*>(&kZeroDword), 4), true},
        CleanupValueCase{"ExpandableZero", HKEY_CURRENT_USER, REG_EXPAND_SZ, Utf16Bytes(L"0", true), true},
        CleanupValueCase{"ZeroUnderTheMachineHive", HKEY_LOCAL_MACHINE, REG_SZ, Utf16Bytes(L"0", true), true}),
    [](const testing::TestParamInfo<CleanupValueCase>& info) { return std::string(info.param.name); });

TEST(CleanupValueTest, MissingValueLeavesTheCleanUpOn) {
  RegistryValueScope user_value(HKEY_CURRENT_USER, kSoftwareKey, kCleanupValue);
  ASSERT_TRUE(user_value.Remove());
  LaunchSettings settings;
  settings.cleanup_enabled = false;
  ASSERT_TRUE(settings.Initialize(GetModuleHandleW(nullptr)));
  EXPECT_TRUE(settings.cleanup_enabled) << "Initialize starts from the defaults";
}

TEST(ReadRegistryStringTest, TerminatesShortDataAndRefusesWhatDoesNotFit) {
  RegistryValueScope value(HKEY_CURRENT_USER, kSoftwareKey, L"DrelixSettingsTestValue");
  wchar_t buffer[3] = {L'#', L'#', L'#'};

  ASSERT_TRUE(value.Set(REG_SZ, L"7", 2));
  EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kSoftwareKey, L"DrelixSettingsTestValue", buffer, 2));
  EXPECT_STREQ(buffer, L"7");

  buffer[0] = buffer[1] = L'#';
  ASSERT_TRUE(value.Set(REG_SZ, L"78", 4));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kSoftwareKey, L"DrelixSettingsTestValue", buffer, 2));

  ASSERT_TRUE(value.Set(REG_SZ, L"789", 8));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kSoftwareKey, L"DrelixSettingsTestValue", buffer, 2))
      << "data larger than the buffer";

  ASSERT_TRUE(value.Set(REG_SZ, "", 0));
  buffer[0] = L'#';
  EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kSoftwareKey, L"DrelixSettingsTestValue", buffer, 2));
  EXPECT_EQ(buffer[0], 0);

  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, L"Software\\Zarvelo\\NoSuchKey", L"x", buffer, 2));
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kSoftwareKey, L"NoSuchValue", buffer, 2));
}

struct CommandLineCase {
  const wchar_t* command_line;
  int32_t argument_count;
  bool has_rejected_switch;
  bool system_level;
};

TEST(ParseCommandLineTest, ComparesWholeArgumentsAfterTheProgramName) {
  EnvironmentVariableScope no_machine_flag(L"HalvexUpdateIsMachine", nullptr);
  const CommandLineCase cases[] = {
      {L"inst.exe", 1, false, false},
      {L"inst.exe --CLEANUP", 2, true, false},
      {L"inst.exe --Drelix-Frame", 2, true, false},
      {L"inst.exe \"--cleanup\"", 2, true, false},
      {L"inst.exe --cleanup=1 -cleanup --drelix-frames cleanup", 5, false, false},
      {L"--cleanup --drelix-frame", 2, true, false},
      {L"--cleanup", 1, false, false},
      {L"\"--drelix-frame\" x", 2, false, false},
      {L"inst.exe --SYSTEM-level", 2, false, true},
      {L"inst.exe --cleanup --system-level", 3, true, true},
      {L"inst.exe --system-level --drelix-frame", 3, true, true},
      {L"inst.exe --system-level=1", 2, false, false},
  };
  for (const CommandLineCase& c : cases) {
    LaunchSettings settings;
    ASSERT_TRUE(settings.ParseCommandLine(c.command_line));
    EXPECT_EQ(settings.command_line, c.command_line);
    EXPECT_EQ(settings.argument_count, c.argument_count) << c.command_line;
    EXPECT_EQ(settings.has_rejected_switch, c.has_rejected_switch) << c.command_line;
    EXPECT_EQ(settings.system_level, c.system_level) << c.command_line;
  }
}

// The setup program splits its command line with the C runtime, whose rules for "" inside quotes
// differ from CommandLineToArgvW's (and between runtimes before and after 2008): a switch either
// way of splitting finds is refused; text that stays inside quotes for all of them is not.
TEST(ParseCommandLineTest, RefusedSwitchesCannotHideBehindQuoting) {
  const struct {
    const wchar_t* command_line;
    bool has_rejected_switch;
  } cases[] = {
      {L"inst.exe \"a\"\"\" --cleanup", true},      // one argument to the shell, two to the runtime
      {L"inst.exe \"\"\"\" --drelix-frame", true},  // likewise
      {L"inst.exe \"a\"\"b\" --cleanup", true},     // likewise
      {L"inst.exe \"a\"\" --cleanup\"", true},      // some rules leave the quotes at ""
      {L"inst.exe \"x --cleanup\"", false},         // inside quotes for every rule
      {L"inst.exe \"a\"\"\"\" --cleanup\"", true},  // the shell's split finds it
      {L"inst.exe a\\\"--cleanup", false},          // an escaped quote is text
      {L"inst.exe \\\"--cleanup\\\"", false},       // likewise, at both ends
      {L"\"inst --cleanup.exe\" x", false},         // the program name, however quoted
      {L"inst.exe \"--CLEANUP", true},              // a quote never closed
      {L"inst.exe --cleanup\t", true},              // a tab ends an argument too
  };
  for (const auto& c : cases) {
    LaunchSettings settings;
    ASSERT_TRUE(settings.ParseCommandLine(c.command_line));
    EXPECT_EQ(settings.has_rejected_switch, c.has_rejected_switch) << c.command_line;
  }
}

TEST(ParseCommandLineTest, NoCommandLineFailsWithoutReadingTheEnvironment) {
  EnvironmentVariableScope machine_flag(L"HalvexUpdateIsMachine", L"1");
  LaunchSettings settings;
  EXPECT_FALSE(settings.ParseCommandLine(nullptr));
  EXPECT_EQ(settings.arguments.Get(), nullptr);
  EXPECT_FALSE(settings.system_level);
}

TEST(ParseCommandLineTest, TheMachineFlagIsExactlyTheTextOne) {
  const struct {
    const wchar_t* value;  // null: unset
    bool system_level;
  } cases[] = {{L"1", true},  {L"01", false}, {L"true", false}, {L" 1", false}, {L"1 ", false},
               {L"0", false}, {L"", false},   {nullptr, false}, {L"11", false}};
  for (const auto& c : cases) {
    EnvironmentVariableScope machine_flag(L"HalvexUpdateIsMachine", c.value);
    LaunchSettings settings;
    ASSERT_TRUE(settings.ParseCommandLine(L"inst.exe"));
    EXPECT_EQ(settings.system_level, c.system_level) << "value \"" << (c.value ? c.value : L"(unset)") << "\"";
  }
}

TEST(LaunchSettingsTest, InitializeReadsTheProcessCommandLineAndClearRestoresTheDefaults) {
  LaunchSettings settings;
  ASSERT_TRUE(settings.Initialize(GetModuleHandleW(nullptr)));
  EXPECT_EQ(settings.command_line, GetCommandLineW());
  ASSERT_NE(settings.arguments.Get(), nullptr);
  EXPECT_GE(settings.argument_count, 1);

  settings.Clear();
  ASSERT_TRUE(settings.ParseCommandLine(L"inst.exe --cleanup --system-level"));
  settings.cleanup_enabled = false;
  settings.previous_version = L"1.0";
  settings.Clear();
  EXPECT_EQ(settings.arguments.Get(), nullptr);
  EXPECT_EQ(settings.command_line, nullptr);
  EXPECT_EQ(settings.argument_count, 0);
  EXPECT_FALSE(settings.system_level);
  EXPECT_FALSE(settings.has_rejected_switch);
  EXPECT_TRUE(settings.cleanup_enabled);
  EXPECT_EQ(settings.previous_version, nullptr);
}

}  // namespace
