// The switches the installer hands the setup program, which the packaging tool must know too to
// tell whether an install command line can fit.
#pragma once

#include "conventions/ascii_text.h"

// Every name below is a constant expression; the checker takes variable templates in a header for
// dynamically initialised ones.
// NOLINTBEGIN(bugprone-dynamic-static-initializers)
// The install run: the archive, by whether it is a 7z archive, and the version a patch applies to.
template <typename Char>
inline constexpr auto kInstallArchiveSwitch = SpellAs<Char>("install-archive");
template <typename Char>
inline constexpr auto kUncompressedArchiveSwitch = SpellAs<Char>("uncompressed-archive");
template <typename Char>
inline constexpr auto kPreviousVersionSwitch = SpellAs<Char>("previous-version");
// The patch run: the patch file and the setup program the installed one is to build from it.
template <typename Char>
inline constexpr auto kUpdateSetupSwitch = SpellAs<Char>("update-setup-exe");
template <typename Char>
inline constexpr auto kNewSetupSwitch = SpellAs<Char>("new-setup-exe");
// NOLINTEND(bugprone-dynamic-static-initializers)
