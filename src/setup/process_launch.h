// Runs one program to completion without a window and turns what happened into an outcome: the
// program's own exit code, or one of three start-failure codes the caller chooses.
#pragma once

#include <cstdint>

#include "driver/exit_outcome.h"

// command_line must be writable: the platform may change it in place.
ExitOutcome LaunchAndWait(const wchar_t* application_path, wchar_t* command_line, uint32_t code_if_file_not_found,
                          uint32_t code_if_path_not_found, uint32_t code_otherwise) noexcept;
