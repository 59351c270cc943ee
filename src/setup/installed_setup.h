// Finds the setup program of the installed product, which a patch payload needs to rebuild a new
// one: the "UninstallString" under "Software\Zarvelo" in the 32-bit registry view of the hive the
// install level selects.
#pragma once

#include <windows.h>

#include <cstdint>

#include "driver/exit_outcome.h"
#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

// On exit code 0 path holds the installed setup program, surrounding quotes removed.
ExitOutcome FindInstalledSetup(bool system_level, const wchar_t* previous_version, PathBuffer& path) noexcept;

// Closes whatever key holds first; returns the status of RegOpenKeyExW.
LSTATUS OpenSoftwareKey(HKEY hive, REGSAM access, UniqueRegistryKey& key) noexcept;

// A REG_SZ value into buffer (capacity in units), terminated on 0; otherwise the reason it was refused.
LSTATUS ReadKeyStringValue(HKEY key, const wchar_t* value_name, wchar_t* buffer, uint64_t capacity) noexcept;

void CloseRegistryKey(UniqueRegistryKey& key) noexcept;
