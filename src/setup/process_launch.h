// Runs one program to completion without a window and turns what happened into an outcome: the
// program's own exit code, or one of the start-failure codes of its run. A program file
// that a scanner holds for a moment is waited out, not reported.
#pragma once

#include <cstdint>

#include "conventions/exit_outcome.h"
#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

// Tries to open the program file for reading, sharing only reading, so that from now until it is
// started nobody can replace or rewrite it. A file that another process holds (32) or that is
// denied for the moment (5) is tried again, 100 ms apart, up to 100 times; if it stays held the
// outcome is code_if_held with that error. Any other failure is no failure of this step: it leaves
// program_hold empty with exit code 0, and the start then reports it with the code that names it.
ExitOutcome TryToHoldProgramFile(const wchar_t* program_path, uint32_t code_if_held,
                                 UniqueFileHandle& program_hold) noexcept;

// The codes a failed start ends a run with, by the platform's reason.
struct StartFailureCodes {
  uint32_t file_not_found;  // the program file is missing
  uint32_t path_not_found;  // its folder is missing
  uint32_t otherwise;
};

inline constexpr StartFailureCodes kPatchRunStartFailures{EXIT_PATCH_RUN_FILE_NOT_FOUND, EXIT_PATCH_RUN_PATH_NOT_FOUND,
                                                          EXIT_PATCH_RUN_START_FAILED};
inline constexpr StartFailureCodes kInstallRunStartFailures{EXIT_SETUP_RUN_FILE_NOT_FOUND,
                                                            EXIT_SETUP_RUN_PATH_NOT_FOUND, EXIT_SETUP_RUN_START_FAILED};

// command_line must be writable: the platform may change it in place. program_hold, which may be
// empty, is closed as soon as the program has been started or has finally failed to start. A start
// refused with 32 or 5 is tried again like the hold.
ExitOutcome LaunchAndWait(const wchar_t* application_path, wchar_t* command_line,
                          const StartFailureCodes& start_failures, UniqueFileHandle& program_hold) noexcept;

// Runs the setup program with the archive and the installer's arguments and returns its exit code,
// or 105 when a fixed piece of the command line does not fit, or a start or wait failure (122-124,
// 107). setup_hold, which keeps the program file from being swapped, is let go once it started.
ExitOutcome InvokeSetup(const wchar_t* command_line, const wchar_t* previous_version, const PathBuffer& archive_path,
                        const PathBuffer& setup_path, bool compressed_archive, UniqueFileHandle& setup_hold) noexcept;
