// The scratch directory's name: "QV_", five hexadecimal digits drawn at random, ".tmp". The
// installer makes it beside itself; the packaging tool measures the shortest path a payload file
// can get from it.
#pragma once

#include <cstdint>

#include "conventions/ascii_text.h"

// NOLINTBEGIN(bugprone-dynamic-static-initializers)
template <typename Char>
inline constexpr auto kScratchNamePrefix = SpellAs<Char>("QV_");
template <typename Char>
inline constexpr auto kScratchNameSuffix = SpellAs<Char>(".tmp");
// NOLINTEND(bugprone-dynamic-static-initializers)
inline constexpr uint64_t kScratchNameRandomDigits = 5;
