// Where the arguments begin after the program name, and the C runtime's split of them in both
// generations of its rule for "" inside quotes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "strings/command_line_text.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* text, DoubledQuoteRule rule) {
  std::vector<std::wstring> arguments;
  wchar_t argument[8];
  bool fits = false;
  for (const wchar_t* next = text; ReadRuntimeArgument(next, rule, argument, 8, fits);) {
    arguments.push_back(fits ? argument : L"(too long)");
  }
  return arguments;
}

TEST(CommandLineTextTest, ArgumentsBeginWhereCommandLineToArgvWEndsTheProgramName) {
  const struct {
    const wchar_t* command_line;
    const wchar_t* arguments;  // null: no telling where they begin
  } cases[] = {
      {L"a.exe x", L" x"},
      {L"a\"b c\" x", L" c\" x"},
      {L"\"a b\"x", L"x"},
      {L"a\x01"
       L"b\tx",
       L"\tx"},
      {L" x", L" x"},
      {L"\"a b", nullptr},
      {L"", L""},
  };
  for (const auto& c : cases) {
    const wchar_t* found = FindArgumentsAfterProgramName(c.command_line);
    if (c.arguments == nullptr) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_STREQ(found, c.arguments);
    }
  }
  EXPECT_EQ(FindArgumentsAfterProgramName(nullptr), nullptr);
}

TEST(CommandLineTextTest, RuntimeSplitInBothGenerations) {
  using List = std::vector<std::wstring>;
  const struct {
    const wchar_t* text;
    List quoting_goes_on;
    List quoting_ends;
  } cases[] = {
      {L" a\tb  c ", {L"a", L"b", L"c"}, {L"a", L"b", L"c"}},
      {LR"( "a b" "")", {L"a b", L""}, {L"a b", L""}},
      {LR"( \\\" \\" \\a)", {LR"(\")", LR"(\ \\a)"}, {LR"(\")", LR"(\ \\a)"}},
      {LR"( "a"" b")", {LR"(a" b)"}, {LR"(a")", L"b"}},
      {LR"( """" x)", {LR"(")", L"x"}, {LR"(" x)"}},
      {LR"( "" "")", {L"", L""}, {L"", L""}},
      {L" 1234567 12345678", {L"1234567", L"(too long)"}, {L"1234567", L"(too long)"}},
      {L" \t ", {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Split(c.text, DoubledQuoteRule::kQuotingGoesOn), c.quoting_goes_on);
    EXPECT_EQ(Split(c.text, DoubledQuoteRule::kQuotingEnds), c.quoting_ends);
  }
}

}  // namespace
