// Finds the setup program of the installed product, which a patch payload needs to rebuild a new
// one: the "UninstallString" under "Software\Zarvelo" in the 32-bit registry view of the hive the
// install level selects.
#pragma once

#include <windows.h>

#include "conventions/exit_outcome.h"
#include "strings/bounded_wide_string.h"

// On exit code 0 path holds the installed setup program, surrounding quotes removed.
ExitOutcome FindInstalledSetup(bool system_level, const wchar_t* previous_version, PathBuffer& path) noexcept;
