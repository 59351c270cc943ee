// The installer's fixed text capacities in UTF-16 units, each counting the terminator. A path or
// command line that does not fit ends a run with its own exit code, so the packaging tool refuses
// what could never fit against the same numbers.
#pragma once

#include <cstdint>

inline constexpr uint64_t kPathCapacity = 260;          // every path; 259 units of text
inline constexpr uint64_t kCommandLineCapacity = 1040;  // a setup command line; 1,039 units of text
inline constexpr uint64_t kResourceTypeCapacity = 3;    // "B7", "BL", "BN"
