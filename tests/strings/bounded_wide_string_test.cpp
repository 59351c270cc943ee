// The text helpers every path and command line is built with: where each stops, and what a failed
// step leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "strings/bounded_wide_string.h"

namespace {

std::wstring Repeat(wchar_t unit, size_t count) { return std::wstring(count, unit); }

TEST(BoundedLengthTest, StopsAtCapacityMinusOne) {
  wchar_t units[261];
  for (wchar_t& unit : units) unit = L'a';
  EXPECT_EQ(BoundedLength(nullptr, 260), 0u);
  EXPECT_EQ(BoundedLength(units, 1), 0u);
  EXPECT_EQ(BoundedLength(units, 0), 0u);
  EXPECT_EQ(BoundedLength(units, 260), 259u);  // 260 non-zero units: unit 259 is never examined

  PathBuffer path;
  ASSERT_TRUE(BoundedCopy(path, Repeat(L'p', 259).c_str()));
  EXPECT_EQ(BoundedLength(path), 259u);
}

TEST(BoundedWideStringTest, ConstructionLeavesAnEmptyStringAndAZeroGuard) {
  PathBuffer path;
  EXPECT_EQ(path.units[0], 0);
  EXPECT_EQ(path.units[260], 0);
  ASSERT_TRUE(BoundedCopy(path, Repeat(L'p', 259).c_str()));
  EXPECT_FALSE(BoundedAppend(path, L"x"));
  EXPECT_EQ(path.units[260], 0);
}

struct CopyCase {
  const char* name;
  uint64_t capacity;
  size_t source_length;
  bool fits;
};

class BoundedCopyTest : public testing::TestWithParam<CopyCase> {};

TEST_P(BoundedCopyTest, CopiesWholeOrLeavesEmpty) {
  const CopyCase& c = GetParam();
  wchar_t destination[1100];
  for (wchar_t& unit : destination) unit = L'#';
  const std::wstring source = Repeat(L's', c.source_length);
  EXPECT_EQ(BoundedCopy(destination, c.capacity, source.c_str()), c.fits);
  if (c.fits) {
    EXPECT_EQ(std::wstring(destination), source);
  } else {
    EXPECT_EQ(destination[0], 0) << "a failed copy reads as empty";
  }
  EXPECT_EQ(destination[c.capacity], L'#') << "nothing is written past the capacity";
}

INSTANTIATE_TEST_SUITE_P(Edges, BoundedCopyTest,
                         testing::Values(CopyCase{"PathLongest", 260, 259, true},
                                         CopyCase{"PathOneTooMany", 260, 260, false},
                                         CopyCase{"CapacityOneEmpty", 1, 0, true},
                                         CopyCase{"CapacityOneOneUnit", 1, 1, false},
                                         CopyCase{"CommandLineLongest", 1040, 1039, true}),
                         [](const testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

TEST(BoundedCopyTest, CapacityZeroOrNullDestinationWritesNothing) {
  wchar_t destination[2] = {L'#', L'#'};
  EXPECT_FALSE(BoundedCopy(destination, 0, L""));
  EXPECT_EQ(destination[0], L'#');
  EXPECT_FALSE(BoundedCopy(nullptr, 260, L"x"));
}

TEST(BoundedCopyTest, CopyOntoItselfFromTheSecondUnitStripsALeadingQuote) {
  PathBuffer path;
  ASSERT_TRUE(BoundedCopy(path, L"\"C:\\x\""));
  EXPECT_TRUE(BoundedCopy(path.units, 260, path.units + 1));
  EXPECT_STREQ(path.units, L"C:\\x\"");
}

struct AppendCase {
  const char* name;
  size_t old_length;
  size_t source_length;
  bool fits;
};

class BoundedAppendTest : public testing::TestWithParam<AppendCase> {};

TEST_P(BoundedAppendTest, AppendsWholeOrLeavesTheOldText) {
  const AppendCase& c = GetParam();
  PathBuffer path;
  const std::wstring old_text = Repeat(L'o', c.old_length);
  const std::wstring source = Repeat(L'n', c.source_length);
  ASSERT_TRUE(BoundedCopy(path, old_text.c_str()));
  EXPECT_EQ(BoundedAppend(path, source.c_str()), c.fits);
  EXPECT_EQ(std::wstring(path.units), c.fits ? old_text + source : old_text);
}

INSTANTIATE_TEST_SUITE_P(Edges, BoundedAppendTest,
                         testing::Values(AppendCase{"ExactlyFull", 200, 59, true},
                                         AppendCase{"OneUnitTooMany", 200, 60, false},
                                         AppendCase{"FullTakesEmpty", 259, 0, true},
                                         AppendCase{"FullRefusesOneUnit", 259, 1, false},
                                         AppendCase{"EmptyTakesLongest", 0, 259, true}),
                         [](const testing::TestParamInfo<AppendCase>& info) { return std::string(info.param.name); });

TEST(BoundedAppendTest, UnterminatedDestinationCountsAsFull) {
  wchar_t units[4] = {L'a', L'b', L'c', L'd'};
  EXPECT_FALSE(BoundedAppend(units, 4, L"x"));
  EXPECT_EQ(units[3], 0);
  units[3] = L'd';
  EXPECT_TRUE(BoundedAppend(units, 4, L""));
  EXPECT_EQ(units[3], 0);
}

TEST(BoundedAppendTest, CapacityOneTakesOnlyTheEmptySource) {
  wchar_t units[2] = {L'z', L'#'};
  EXPECT_TRUE(BoundedAppend(units, 1, L""));
  EXPECT_EQ(units[0], 0);
  units[0] = L'z';
  EXPECT_FALSE(BoundedAppend(units, 1, L"a"));
  EXPECT_EQ(units[0], 0);
  EXPECT_FALSE(BoundedAppend(nullptr, 10, L"a"));
  EXPECT_FALSE(BoundedAppend(units, 0, L""));
}

TEST(BoundedJoinTest, StopsAtTheFirstPieceThatDoesNotFit) {
  BoundedWideString<8> text;
  EXPECT_TRUE(BoundedJoin(text, L"ab", L"cd", L"ef"));
  EXPECT_STREQ(text.units, L"abcdef");
  EXPECT_FALSE(BoundedJoin(text, L"ab", L"cdef", L"gh", L""));
  EXPECT_STREQ(text.units, L"abcdef");
}

struct FoldingCase {
  const wchar_t* text;
  const wchar_t* prefix;
  bool starts_with;
};

TEST(StartsWithNoCaseTest, FoldsOnlyAsciiLetters) {
  const FoldingCase cases[] = {
      {L"SETUP.EX_", L"setup", true},
      {L"setup.exe", L"SETUP", true},
      {L"SET", L"setup", false},
      {L"anything", L"", true},
      {L"", L"", true},
      {L"\u00C9t\u00E9", L"\u00E9", false},  // É does not fold to é
      {L"@x", L"`x", false},                 // U+0040 and U+0060 sit just outside A-Z
      {L"[x", L"{x", false},                 // U+005B and U+007B likewise
      {L"xsetup", L"setup", false},
  };
  for (const FoldingCase& c : cases) {
    EXPECT_EQ(StartsWithNoCase(c.text, c.prefix), c.starts_with) << "text " << c.text << ", prefix " << c.prefix;
  }
  EXPECT_FALSE(StartsWithNoCase(nullptr, L"a"));
  EXPECT_FALSE(StartsWithNoCase(L"a", nullptr));
  EXPECT_FALSE(StartsWithNoCase(nullptr, nullptr));
}

TEST(FindNoCaseTest, FindsTheLeftmostFoldedMatch) {
  const wchar_t text[] = L"xAbAB";
  EXPECT_EQ(FindNoCase(text, L"ab"), text + 1);
  EXPECT_EQ(FindNoCase(text, L""), text);
  EXPECT_EQ(FindNoCase(text, nullptr), text);
  EXPECT_EQ(FindNoCase(L"", L"a"), nullptr);
  EXPECT_EQ(FindNoCase(text, L"abx"), nullptr);
  const wchar_t brackets[] = L"a[b@c";
  EXPECT_EQ(FindNoCase(brackets, L"{b"), nullptr);
  EXPECT_EQ(FindNoCase(brackets, L"`c"), nullptr);
  EXPECT_EQ(FindNoCase(brackets, L"@C"), brackets + 3);
}

TEST(AfterLastBackslashTest, FindsTheLastBackslashWithinLength) {
  const wchar_t path[] = L"C:\\dir\\app.exe";
  EXPECT_EQ(AfterLastBackslash(path, 14), path + 7);
  EXPECT_EQ(AfterLastBackslash(path, 6), path + 3) << "only the first length units count";
  EXPECT_EQ(AfterLastBackslash(path, 0), path);
  const wchar_t bare[] = L"app.exe";
  EXPECT_EQ(AfterLastBackslash(bare, 7), bare);
  const wchar_t rooted[] = L"\\app";
  EXPECT_EQ(AfterLastBackslash(rooted, 4), rooted + 1);
  const wchar_t forward[] = L"C:/dir/app.exe";
  EXPECT_EQ(AfterLastBackslash(forward, 14), forward);
}

TEST(HexEncodeTest, WritesUpperCaseDigitsOnlyWhenTheyFit) {
  const unsigned char bytes[] = {0x3F, 0xA0};
  wchar_t destination[6] = {L'#', L'#', L'#', L'#', L'#', L'#'};
  EXPECT_FALSE(HexEncode(bytes, 2, destination, 4));
  EXPECT_EQ(destination[0], L'#');
  EXPECT_TRUE(HexEncode(bytes, 2, destination, 5));
  EXPECT_STREQ(destination, L"3FA0");
  EXPECT_TRUE(HexEncode(bytes, 0, destination, 1));
  EXPECT_EQ(destination[0], 0);
}

TEST(FillBytesTest, UsesTheLowByteAndReturnsTheDestination) {
  unsigned char bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(FillBytes(bytes, 0x1AB, 3), bytes);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(bytes[2], 0xAB);
  EXPECT_EQ(bytes[3], 4);
  FillBytes(bytes, 0, 0);
  EXPECT_EQ(bytes[0], 0xAB);
}

}  // namespace
