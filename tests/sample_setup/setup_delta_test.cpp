// The delta format beyond the one pair of programs the build makes: changes that shift the rest of a
// program, moved and removed blocks, and inputs too short to match at all must all rebuild exactly,
// and a delta must refuse any program but its own.
#include <gtest/gtest.h>

#include <string>

#include "setup_delta.h"

namespace {

// Bytes that do not repeat within a few kilobytes, as in a real program.
std::string Program(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

struct DeltaCase {
  const char* name;
  std::string old_program;
  std::string new_program;
  size_t largest_delta;  // proves that matching found the unchanged parts
};

class DeltaRoundTripTest : public testing::TestWithParam<DeltaCase> {};

TEST_P(DeltaRoundTripTest, RebuildsTheNewProgramExactly) {
  const DeltaCase& c = GetParam();
  const std::string delta = MakeDelta(c.old_program, c.new_program);
  std::string rebuilt = "left over";
  ASSERT_EQ(ApplyDelta(c.old_program, delta, rebuilt), DeltaResult::applied);
  EXPECT_EQ(rebuilt, c.new_program);
  EXPECT_LE(delta.size(), c.largest_delta);
}

const std::string kBase = Program(100000, 1);

INSTANTIATE_TEST_SUITE_P(
    Changes, DeltaRoundTripTest,
    testing::Values(DeltaCase{"Identical", kBase, kBase, 200},
                    DeltaCase{"BytesChangedInPlace", kBase, kBase.substr(0, 5000) + "2.0.0" + kBase.substr(5005), 300},
                    DeltaCase{"InsertionShiftsTheRest", kBase,
                              kBase.substr(0, 40000) + "a new block" + kBase.substr(40000), 300},
                    DeltaCase{"BlockRemoved", kBase, kBase.substr(0, 30000) + kBase.substr(31000), 300},
                    DeltaCase{"BlocksSwapped", kBase, kBase.substr(50000) + kBase.substr(0, 50000), 300},
                    DeltaCase{"AllNew", kBase, Program(5000, 2), 5200}, DeltaCase{"EmptyNew", kBase, "", 100},
                    DeltaCase{"EmptyOld", "", "tiny", 100}, DeltaCase{"ShorterThanAWindow", "abc", "abd", 100}),
    [](const testing::TestParamInfo<DeltaCase>& info) { return std::string(info.param.name); });

TEST(DeltaRefusalTest, RefusesAnotherProgramAndLeavesTheOutputAlone) {
  const std::string delta = MakeDelta(kBase, kBase + "x");
  std::string output = "untouched";
  std::string other = kBase;
  other[99999] = static_cast<char>(other[99999] ^ 1);
  EXPECT_EQ(ApplyDelta(other, delta, output), DeltaResult::made_for_another_program) << "same size, other bytes";
  EXPECT_EQ(ApplyDelta(kBase + "y", delta, output), DeltaResult::made_for_another_program) << "other size";
  EXPECT_EQ(output, "untouched");
}

TEST(DeltaRefusalTest, RefusesEveryDamagedByte) {
  const std::string delta = MakeDelta(kBase, kBase.substr(0, 60000) + "patched" + kBase.substr(60000));
  for (size_t position = 0; position < delta.size(); ++position) {
    std::string damaged = delta;
    damaged[position] = static_cast<char>(damaged[position] ^ 0x40);
    std::string output = "untouched";
    EXPECT_NE(ApplyDelta(kBase, damaged, output), DeltaResult::applied) << "byte " << position;
    EXPECT_EQ(output, "untouched") << "byte " << position;
  }
}

}  // namespace
