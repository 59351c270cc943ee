// The sample setup program's rebuild from a delta, run for real: the built delta turns version 1
// into version 2 byte for byte, and every delta it must refuse writes nothing.
#include <gtest/gtest.h>

#include <string>

#include "setup_exit_codes.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace {

struct RebuildCase {
  const char* name;
  const wchar_t* program;  // which sample setup runs the rebuild
  std::string (*make_delta)(const std::string& built_delta);
  DWORD exit_code;
};

std::string Unchanged(const std::string& delta) { return delta; }
std::string LastByteFlipped(const std::string& delta) {
  std::string damaged = delta;
  damaged.back() = static_cast<char>(damaged.back() ^ 0x01);
  return damaged;
}
std::string Truncated(const std::string& delta) { return delta.substr(0, delta.size() - 1); }
std::string HeaderOnly(const std::string& delta) { return delta.substr(0, 16); }
std::string NotADelta(const std::string&) { return "MZ this is no delta at all"; }

class RebuildTest : public testing::TestWithParam<RebuildCase> {};

TEST_P(RebuildTest, RebuildsTheNextVersionOrWritesNothing) {
  const RebuildCase& c = GetParam();
  TemporaryDirectory directory(L"rebuild");
  const std::string built_delta = ReadFileBytes(ProgramDirectory() + L"sample_setup_1_to_2.delta");
  ASSERT_FALSE(built_delta.empty());
  ASSERT_TRUE(WriteFileBytes(directory / L"SETUP.PATCH", c.make_delta(built_delta)));
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", nullptr);

  const std::wstring program = ProgramDirectory() + c.program;
  const std::wstring new_setup = directory / L"setup.exe";
  const ChildResult result =
      RunChild(program, L"\"" + program + L"\" --update-setup-exe=\"" + (directory / L"SETUP.PATCH") +
                            L"\" --new-setup-exe=\"" + new_setup + L"\"");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exit_code, c.exit_code);
  if (c.exit_code == 0) {
    EXPECT_EQ(ReadFileBytes(new_setup), ReadFileBytes(ProgramDirectory() + L"sample_setup_v2.exe"));
  } else {
    EXPECT_FALSE(PathExists(new_setup));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Deltas, RebuildTest,
    testing::Values(RebuildCase{"Applies", L"sample_setup.exe", Unchanged, 0},
                    RebuildCase{"MadeForAnotherProgram", L"sample_setup_v2.exe", Unchanged,
                                SAMPLE_SETUP_DELTA_FOR_ANOTHER_PROGRAM},
                    RebuildCase{"Damaged", L"sample_setup.exe", LastByteFlipped, SAMPLE_SETUP_DELTA_DAMAGED},
                    RebuildCase{"Truncated", L"sample_setup.exe", Truncated, SAMPLE_SETUP_DELTA_DAMAGED},
                    RebuildCase{"HeaderOnly", L"sample_setup.exe", HeaderOnly, SAMPLE_SETUP_DELTA_DAMAGED},
                    RebuildCase{"NotADelta", L"sample_setup.exe", NotADelta, SAMPLE_SETUP_DELTA_DAMAGED}),
    [](const testing::TestParamInfo<RebuildCase>& info) { return std::string(info.param.name); });

TEST(SampleSetupTest, RebuildWithoutATargetOrFromAMissingDeltaWritesNothing) {
  TemporaryDirectory directory(L"rebuild");
  EnvironmentVariableScope exit_code(L"SAMPLE_SETUP_EXIT_CODE", nullptr);
  const std::wstring program = ProgramDirectory() + L"sample_setup.exe";

  ChildResult result = RunChild(
      program, L"\"" + program + L"\" --update-setup-exe=\"" + ProgramDirectory() + L"sample_setup_1_to_2.delta\"");
  EXPECT_EQ(result.exit_code, SAMPLE_SETUP_BAD_SWITCHES);

  result = RunChild(program, L"\"" + program + L"\" --update-setup-exe=\"" + (directory / L"missing") +
                                 L"\" --new-setup-exe=\"" + (directory / L"setup.exe") + L"\"");
  EXPECT_EQ(result.exit_code, SAMPLE_SETUP_READ_FAILED);
  EXPECT_TRUE(ListDirectory(directory.Path()).empty());
}

}  // namespace
