// The two setup command lines and the pass-through of the installer's own arguments. The install
// line is read back from what a real setup program received, so the test also covers what the
// platform does to the line on its way.
#include <gtest/gtest.h>

#include <string>

#include "conventions/exit_outcome.h"
#include "driver/launch_settings.h"
#include "setup/process_launch.h"
#include "setup/setup_command_lines.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace {

// A scratch directory holding the sample setup program and an archive, as the installer leaves it.
class InstallRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"sample_setup.exe", scratch_ / L"setup.exe"));
    ASSERT_TRUE(WriteFileBytes(scratch_ / L"DRELIX.PACKED.7Z", "archive"));
    ASSERT_TRUE(BoundedCopy(setup_path_, (scratch_ / L"setup.exe").c_str()));
    ASSERT_TRUE(BoundedCopy(archive_path_, (scratch_ / L"DRELIX.PACKED.7Z").c_str()));
  }

  std::vector<std::string> Recorded() const { return RecordedCommandLines(record_); }

  TemporaryDirectory scratch_{L"QV_4F2A1.tmp"};
  TemporaryDirectory records_{L"records"};
  std::wstring record_ = records_ / L"record.txt";
  EnvironmentVariableScope record_variable_{L"SAMPLE_SETUP_RECORD", record_.c_str()};
  EnvironmentVariableScope exit_code_variable_{L"SAMPLE_SETUP_EXIT_CODE", L"0"};
  PathBuffer setup_path_;
  PathBuffer archive_path_;
  LaunchSettings settings_;
  UniqueFileHandle setup_hold_;
};

TEST_F(InstallRunTest, CompleteLinesAsTheSetupProgramReceivesThem) {
  const std::string scratch = Narrow(scratch_.Path());

  settings_.command_line = L"\"D:\\Dl\\install.exe\" --system-level";
  ExitOutcome outcome =
      InvokeSetup(settings_.command_line, settings_.previous_version, archive_path_, setup_path_, true, setup_hold_);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.windows_error, 0u);

  settings_.command_line = L"D:\\Dl\\install.exe";
  settings_.previous_version = L"1.2.3.4";
  outcome =
      InvokeSetup(settings_.command_line, settings_.previous_version, archive_path_, setup_path_, false, setup_hold_);
  EXPECT_EQ(outcome.exit_code, 0u);

  settings_.previous_version = L"";
  outcome =
      InvokeSetup(settings_.command_line, settings_.previous_version, archive_path_, setup_path_, true, setup_hold_);
  EXPECT_EQ(outcome.exit_code, 0u);

  const std::vector<std::string> lines = Recorded();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "\"" + scratch + "setup.exe\" --install-archive=\"" + scratch + "DRELIX.PACKED.7Z\" --system-level");
  EXPECT_EQ(lines[1], "\"" + scratch + "setup.exe\" --uncompressed-archive=\"" + scratch +
                          "DRELIX.PACKED.7Z\" --previous-version=\"1.2.3.4\"");
  EXPECT_EQ(lines[2], "\"" + scratch + "setup.exe\" --install-archive=\"" + scratch +
                          "DRELIX.PACKED.7Z\" --previous-version=\"\"");
}

TEST_F(InstallRunTest, SetupExitCodeLikeOneOfOursComesBackUnchanged) {
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", L"105");
  settings_.command_line = L"install.exe";
  const ExitOutcome outcome =
      InvokeSetup(settings_.command_line, settings_.previous_version, archive_path_, setup_path_, true, setup_hold_);
  EXPECT_EQ(outcome.exit_code, EXIT_COMMAND_LINE_TOO_LONG)
      << "a setup program's 105 reads like a line that did not fit";
  EXPECT_EQ(outcome.windows_error, 0u);
}

TEST_F(InstallRunTest, ArgumentsThatDoNotFitAreDroppedAndTheRunStillHappens) {
  const std::wstring command_line = L"install.exe --system-level " + std::wstring(1000, L'x');
  settings_.command_line = command_line.c_str();
  const ExitOutcome outcome =
      InvokeSetup(settings_.command_line, settings_.previous_version, archive_path_, setup_path_, true, setup_hold_);
  EXPECT_EQ(outcome.exit_code, 0u);
  const std::vector<std::string> lines = Recorded();
  ASSERT_EQ(lines.size(), 1u);
  const std::string scratch = Narrow(scratch_.Path());
  EXPECT_EQ(lines[0], "\"" + scratch + "setup.exe\" --install-archive=\"" + scratch + "DRELIX.PACKED.7Z\"");
}

TEST_F(InstallRunTest, FixedPieceThatDoesNotFitGives105AndStartsNothing) {
  const std::wstring previous_version(1000, L'9');
  settings_.command_line = L"install.exe";
  settings_.previous_version = previous_version.c_str();
  const ExitOutcome outcome =
      InvokeSetup(settings_.command_line, settings_.previous_version, archive_path_, setup_path_, true, setup_hold_);
  EXPECT_EQ(outcome.exit_code, EXIT_COMMAND_LINE_TOO_LONG);
  EXPECT_EQ(outcome.windows_error, 0u);
  EXPECT_FALSE(PathExists(record_)) << "the setup program must not have run";
}

TEST(PatchCommandLineTest, CompleteLine) {
  CommandLineBuffer line;
  ASSERT_TRUE(BoundedCopy(line, L"left over from before"));
  ASSERT_TRUE(BuildPatchCommandLine(L"C:\\Apps\\Installer\\setup.exe", L"D:\\Dl\\QV_4F2A1.tmp\\SETUP.PATCH.7Z",
                                    L"D:\\Dl\\QV_4F2A1.tmp\\setup.exe", L"D:\\Dl\\install.exe", line));
  EXPECT_STREQ(line.units,
               L"\"C:\\Apps\\Installer\\setup.exe\" --update-setup-exe=\"D:\\Dl\\QV_4F2A1.tmp\\SETUP.PATCH.7Z\" "
               L"--new-setup-exe=\"D:\\Dl\\QV_4F2A1.tmp\\setup.exe\"");
}

TEST(PatchCommandLineTest, PassesArgumentsOnButNeverThePreviousVersion) {
  // The patch names what it applies to by itself; only the installer's own arguments follow.
  CommandLineBuffer line;
  ASSERT_TRUE(BuildPatchCommandLine(L"C:\\setup.exe", L"C:\\p", L"C:\\n", L"\"D:\\install.exe\" --system-level", line));
  EXPECT_STREQ(line.units, L"\"C:\\setup.exe\" --update-setup-exe=\"C:\\p\" --new-setup-exe=\"C:\\n\" --system-level");
  EXPECT_EQ(std::wstring(line.units).find(L"previous-version"), std::wstring::npos);
}

TEST(PatchCommandLineTest, FixedPieceThatDoesNotFitFailsAndLongArgumentsDoNot) {
  CommandLineBuffer line;
  const std::wstring long_path(1000, L'p');
  EXPECT_FALSE(BuildPatchCommandLine(L"C:\\setup.exe", long_path.c_str(), L"C:\\n", L"install.exe", line));

  const std::wstring long_arguments = L"install.exe " + std::wstring(1100, L'a');
  ASSERT_TRUE(BuildPatchCommandLine(L"C:\\setup.exe", L"C:\\p", L"C:\\n", long_arguments.c_str(), line));
  EXPECT_STREQ(line.units, L"\"C:\\setup.exe\" --update-setup-exe=\"C:\\p\" --new-setup-exe=\"C:\\n\"");
}

struct PassThroughCase {
  const char* name;
  const wchar_t* command_line;
  const wchar_t* appended;
};

class PassThroughTest : public testing::TestWithParam<PassThroughCase> {};

TEST_P(PassThroughTest, AppendsWhatFollowsTheProgramName) {
  CommandLineBuffer line;
  ASSERT_TRUE(BoundedCopy(line, L"X"));
  AppendPassThroughArguments(line, GetParam().command_line);
  EXPECT_EQ(std::wstring(line.units), std::wstring(L"X") + GetParam().appended);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, PassThroughTest,
    testing::Values(PassThroughCase{"QuotedName", L"\"D:\\Dl\\install.exe\" --system-level", L" --system-level"},
                    PassThroughCase{"QuotedNameWithTextRightAfter", L"\"D:\\Dl\\install.exe\"--system-level",
                                    L" --system-level"},
                    PassThroughCase{"QuotedNameAlone", L"\"D:\\Dl\\install.exe\"", L""},
                    PassThroughCase{"Unquoted", L"D:\\Dl\\install.exe --system-level", L" --system-level"},
                    PassThroughCase{"Tab", L"D:\\Dl\\install.exe\t--system-level", L"\t--system-level"},
                    PassThroughCase{"TwoSpaces", L"D:\\Dl\\install.exe  --system-level", L"  --system-level"},
                    PassThroughCase{"Nothing", L"D:\\Dl\\install.exe", L""},
                    PassThroughCase{"UnclosedQuote", L"\"D:\\Dl\\install.exe --system-level", L""},
                    PassThroughCase{"LeadingBlank", L" D:\\Dl\\install.exe --a", L" D:\\Dl\\install.exe --a"},
                    PassThroughCase{"LeadingTab", L"\tinstall.exe", L"\tinstall.exe"},
                    PassThroughCase{"ControlCharacterInsideName", L"D:\\Dl\\in\x0Bstall.exe\x0C --a", L" --a"},
                    PassThroughCase{"QuotesAreNotReQuoted", L"install.exe \"a b\" c\"d", L" \"a b\" c\"d"},
                    PassThroughCase{"EmptyLine", L"", L""}),
    [](const testing::TestParamInfo<PassThroughCase>& info) { return std::string(info.param.name); });

// Fills a command line to the given length, so the next append meets the 1039-unit limit.
CommandLineBuffer FilledTo(size_t length) {
  CommandLineBuffer line;
  EXPECT_TRUE(BoundedCopy(line, std::wstring(length, L'f').c_str()));
  return line;
}

TEST(PassThroughOverflowTest, RestThatDoesNotFitIsLeftOffWhole) {
  CommandLineBuffer line = FilledTo(1030);
  AppendPassThroughArguments(line, L"install.exe --system-level");
  EXPECT_EQ(BoundedLength(line), 1030u);

  line = FilledTo(1024);
  AppendPassThroughArguments(line, L"install.exe --system-level");
  EXPECT_EQ(std::wstring(line.units), std::wstring(1024, L'f') + L" --system-level") << "exactly 1039 units fit";
}

TEST(PassThroughOverflowTest, InsertedSpaceStaysWhenTheRestDoesNotFit) {
  CommandLineBuffer line = FilledTo(1030);
  AppendPassThroughArguments(line, L"\"install.exe\"--system-level");
  EXPECT_EQ(std::wstring(line.units), std::wstring(1030, L'f') + L" ");

  line = FilledTo(1039);
  AppendPassThroughArguments(line, L"\"install.exe\"--system-level");
  EXPECT_EQ(BoundedLength(line), 1039u) << "no room even for the space";
}

}  // namespace
