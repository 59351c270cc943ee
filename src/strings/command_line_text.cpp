#include "strings/command_line_text.h"

namespace {

bool IsBlank(wchar_t unit) noexcept { return unit == L' ' || unit == L'\t'; }

}  // namespace

const wchar_t* FindArgumentsAfterProgramName(const wchar_t* command_line) noexcept {
  if (command_line == nullptr) return nullptr;
  const wchar_t* rest = command_line;
  if (*rest == L'"') {
    ++rest;
    while (*rest != L'"') {
      if (*rest == 0) return nullptr;
      ++rest;
    }
    return rest + 1;
  }
  while (*rest != 0 && !IsBlank(*rest)) ++rest;
  return rest;
}

bool ReadRuntimeArgument(const wchar_t*& next, DoubledQuoteRule rule, wchar_t* argument, uint64_t capacity,
                         bool& fits) noexcept {
  while (IsBlank(*next)) ++next;
  if (*next == 0) return false;

  uint64_t length = 0;
  const auto keep = [&](wchar_t unit, uint64_t count) {
    for (; count != 0; --count, ++length) {
      if (length < capacity) argument[length] = unit;
    }
  };
  bool in_quotes = false;
  for (;;) {
    uint64_t backslashes = 0;
    while (*next == L'\\') {
      ++backslashes;
      ++next;
    }
    if (*next == L'"') {
      // 2n backslashes before a quote are n and the quote counts as one; 2n + 1 are n and a quote.
      keep(L'\\', backslashes / 2);
      if (backslashes % 2 == 1) {
        keep(L'"', 1);
        ++next;
      } else if (in_quotes && next[1] == L'"') {
        keep(L'"', 1);
        next += 2;
        if (rule == DoubledQuoteRule::kQuotingEnds) in_quotes = false;
      } else {
        in_quotes = !in_quotes;
        ++next;
      }
      continue;
    }
    keep(L'\\', backslashes);
    if (*next == 0 || (!in_quotes && IsBlank(*next))) break;
    keep(*next, 1);
    ++next;
  }
  fits = length < capacity;
  if (fits) argument[length] = 0;
  return true;
}
