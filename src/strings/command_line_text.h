// How a Windows command line is read by the two kinds of consumer the installer's arguments meet:
// where the arguments begin after the program name, and how the C runtime of a setup program splits
// them. The refusal of switches and the pass-through to the setup program both go through here, so
// what is checked is exactly what is handed on.
#pragma once

#include <cstdint>

// Where the arguments begin: just past the program name as CommandLineToArgvW ends it, an unquoted
// name at the first space or tab (other units, control characters included, belong to it), a quoted
// one at its closing quote. Null for a null line, and for a quoted name that is never closed, where
// there is no telling where arguments begin.
[[nodiscard]] const wchar_t* FindArgumentsAfterProgramName(const wchar_t* command_line) noexcept;

// How a C runtime reads "" inside quotes: one literal quote, and quoting goes on (every runtime since
// 2008) or ends (the runtimes before).
enum class DoubledQuoteRule { kQuotingGoesOn, kQuotingEnds };

// Reads the next argument at `next` the way the C runtime splits the arguments that follow the
// program name, and moves `next` past it. False when only blanks are left. The argument is stored
// with its terminator when it fits in `capacity` units; otherwise `fits` is false and nothing of it
// is kept, so a long argument can never be mistaken for its first units.
[[nodiscard]] bool ReadRuntimeArgument(const wchar_t*& next, DoubledQuoteRule rule, wchar_t* argument,
                                       uint64_t capacity, bool& fits) noexcept;
