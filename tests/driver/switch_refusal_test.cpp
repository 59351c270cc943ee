// The refusal of "--cleanup" and "--drelix-frame" judged against what really receives the
// installer's arguments: the setup program, started through InvokeSetup exactly as a run starts it,
// and split by the C runtimes' own code (msvcrt.dll and ucrtbase.dll, narrow and wide, in
// runtime_argument_probe). Any line from which a runtime splits a refused switch that the settings
// did not refuse is a way past the refusal and fails with the line printed.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "driver/launch_settings.h"
#include "setup/process_launch.h"
#include "support/test_files.h"

namespace {

constexpr DWORD kRuntimeNotAsked = 16;

class SwitchRefusalTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"runtime_argument_probe.exe", scratch_ / L"setup.exe"));
    ASSERT_TRUE(BoundedCopy(setup_path_, (scratch_ / L"setup.exe").c_str()));
    ASSERT_TRUE(BoundedCopy(archive_path_, (scratch_ / L"DRELIX.PACKED.7Z").c_str()));
  }

  static bool Refused(const std::wstring& command_line) {
    LaunchSettings settings;
    EXPECT_TRUE(settings.ParseCommandLine(command_line.c_str()));
    return settings.has_rejected_switch;
  }

  // The runtimes (a bit each) that split a refused switch out of the setup program's command line
  // when the installer was started with command_line.
  // A start that Wine refuses on a loaded machine is tried again: the line is what is judged here.
  DWORD RuntimesThatSeeASwitch(const std::wstring& command_line) {
    ExitOutcome outcome{EXIT_SETUP_RUN_START_FAILED, 0};
    for (int attempt = 0; attempt < 3 && outcome.exit_code == EXIT_SETUP_RUN_START_FAILED; ++attempt) {
      UniqueFileHandle no_hold;
      outcome = InvokeSetup(command_line.c_str(), nullptr, archive_path_, setup_path_, false, no_hold);
    }
    EXPECT_LT(outcome.exit_code, kRuntimeNotAsked)
        << Narrow(command_line) << " windows error " << outcome.windows_error;
    return outcome.exit_code;
  }

  TemporaryDirectory scratch_{L"refusal"};
  PathBuffer setup_path_;
  PathBuffer archive_path_;
};

// The program-name part is written as a caller may write it: the program itself is named apart.
TEST_F(SwitchRefusalTest, SwitchesHiddenBehindQuotingAreRefusedAndTextNoProgramSplitsIsNot) {
  const struct {
    const wchar_t* command_line;
    bool refused;
  } cases[] = {
      {LR"(a" """" --cleanup)", true},
      {LR"(C:\Dl\install.exe" """" --cleanup)", true},
      {LR"("C:\Dl\install.exe"\""""" --cleanup)", true},
      {LR"(a" """" --drelix-frame)", true},
      {LR"(install.exe" "a""b" --CLEANUP)", true},
      {LR"(a" " --cleanup)", false},
      {LR"(in"st ex"e --cleanup)", false},
      {LR"("C:\Dl\install.exe"\" a" --cleanup)", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Refused(c.command_line), c.refused) << Narrow(c.command_line);
    // Under Wine msvcrt and ucrtbase, narrow and wide, follow one rule: all four or none.
    EXPECT_EQ(RuntimesThatSeeASwitch(c.command_line), c.refused ? 0xFu : 0u) << Narrow(c.command_line);
  }
}

// Lines built from the pieces that make splitters disagree: program names that hold quotes or run
// into text, then quotes in ones to fours, backslashes before quotes, blanks and tabs, and a switch
// name or a near miss after a blank, where quoting before it decides whether it stands alone.
std::wstring DangerousLine(std::mt19937& random) {
  static const wchar_t* const kProgramNames[] = {
      L"a",
      LR"(a")",
      LR"(C:\Dl\install.exe")",
      LR"("C:\Dl\install.exe")",
      LR"("C:\Dl\install.exe"\")",
      L"in\"st",
      LR"("a"b)",
      LR"(""a)",
      LR"(a\"b)",
      L"\"a b\"",
  };
  static const wchar_t* const kPieces[] = {
      L" ",     L"\t",    LR"(")",   LR"("")", LR"(""")", LR"("""")",        LR"(\)",
      LR"(\\)", LR"(\")", LR"(\\")", L"a",     L"b c",    L"--system-level",
  };
  static const wchar_t* const kBlanks[] = {L" ", L"\t", L"  "};
  static const wchar_t* const kSwitches[] = {
      L"--cleanup",      L"--CLEANUP",   L"--drelix-frame", L"--Drelix-Frame", LR"(--cleanup")",
      LR"("--cleanup")", L"--cleanup=1", L"-cleanup",       LR"(--cleanup\)",
  };
  auto pick = [&random](const auto& list) {
    return list[std::uniform_int_distribution<size_t>(0, std::size(list) - 1)(random)];
  };
  auto count = [&random](int most) { return std::uniform_int_distribution<int>(0, most)(random); };
  std::wstring line = pick(kProgramNames);
  for (int pieces = count(5); pieces > 0; --pieces) line += pick(kPieces);
  line += pick(kBlanks);
  line += pick(kSwitches);
  for (int pieces = count(2); pieces > 0; --pieces) line += pick(kPieces);
  return line;
}

bool ShellSplitSeesASwitch(const std::wstring& command_line) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line.c_str(), &count);
  bool seen = false;
  for (int index = 1; arguments != nullptr && index < count; ++index) {
    seen =
        seen || lstrcmpiW(arguments[index], L"--cleanup") == 0 || lstrcmpiW(arguments[index], L"--drelix-frame") == 0;
  }
  LocalFree(arguments);
  return seen;
}

TEST_F(SwitchRefusalTest, NoGeneratedLineGetsASwitchPastTheRefusal) {
  constexpr int kLines = 400;
  std::mt19937 random(20261210);
  int refused = 0;
  int seen_by_a_runtime = 0;
  int seen_by_no_program = 0;  // refused for the split of runtimes before 2008, which Wine has not
  for (int index = 0; index < kLines; ++index) {
    const std::wstring line = DangerousLine(random);
    const bool refused_line = Refused(line);
    const DWORD runtimes = RuntimesThatSeeASwitch(line);
    refused += refused_line ? 1 : 0;
    seen_by_a_runtime += runtimes != 0 ? 1 : 0;
    seen_by_no_program += refused_line && runtimes == 0 && !ShellSplitSeesASwitch(line) ? 1 : 0;
    if (runtimes != 0 && !refused_line) {
      ADD_FAILURE() << "runtimes 0x" << std::hex << runtimes << " split a refused switch out of: " << Narrow(line);
    }
  }
  std::printf("%d lines: %d refused, %d with a switch a runtime splits out, %d refused that no program here splits\n",
              kLines, refused, seen_by_a_runtime, seen_by_no_program);
  EXPECT_GT(seen_by_a_runtime, 0) << "no line reached a runtime with a switch: the lines prove nothing";
  // In these lines the shell's split finds a switch wherever the runtimes before 2008 would, so a
  // line refused although no program here splits a switch out of it is refused for nothing.
  EXPECT_EQ(seen_by_no_program, 0);
}

}  // namespace
