// The two command lines the setup program is started with, and the rule that hands the installer's
// own arguments on to it as raw text.
#pragma once

#include "driver/exit_outcome.h"
#include "driver/launch_settings.h"
#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

// Runs the setup program with the archive and the installer's arguments and returns its exit code,
// or 105 when a fixed piece of the command line does not fit, or a start or wait failure.
// setup_hold, which keeps the program file from being swapped, is let go once the program started.
ExitOutcome InvokeSetup(const LaunchSettings& settings, const PathBuffer& archive_path, const PathBuffer& setup_path,
                        bool compressed_archive, UniqueFileHandle& setup_hold) noexcept;

// False only when a fixed piece does not fit; the passed-on arguments never make it fail.
[[nodiscard]] bool BuildPatchCommandLine(const wchar_t* installed_setup_path, const wchar_t* patch_file_path,
                                         const wchar_t* new_setup_path, const wchar_t* command_line,
                                         CommandLineBuffer& destination) noexcept;

// Appends everything after the program name in command_line; what does not fit is left off whole.
void AppendPassThroughArguments(CommandLineBuffer& destination, const wchar_t* command_line) noexcept;
