// The two command lines the setup program is started with, and the rule that hands the installer's
// own arguments on to it as raw text.
#pragma once

#include "strings/bounded_wide_string.h"

// The install run's line: the setup program, the archive ("--install-archive" for a 7z archive,
// "--uncompressed-archive" otherwise), the previous version when there is one (null when not), then
// the installer's own arguments. False only when a fixed piece does not fit.
[[nodiscard]] bool BuildInstallCommandLine(const wchar_t* setup_path, const wchar_t* archive_path,
                                           bool compressed_archive, const wchar_t* previous_version,
                                           const wchar_t* command_line, CommandLineBuffer& destination) noexcept;

// The patch run's line. False only when a fixed piece does not fit; the passed-on arguments never
// make it fail.
[[nodiscard]] bool BuildPatchCommandLine(const wchar_t* installed_setup_path, const wchar_t* patch_file_path,
                                         const wchar_t* new_setup_path, const wchar_t* command_line,
                                         CommandLineBuffer& destination) noexcept;

// Appends everything after the program name in command_line; what does not fit is left off whole.
void AppendPassThroughArguments(CommandLineBuffer& destination, const wchar_t* command_line) noexcept;
