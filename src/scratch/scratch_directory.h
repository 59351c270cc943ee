// The scratch directory: a fresh, randomly named directory beside the executable that receives the
// payload. On volumes that keep ACLs it admits only administrators, the system and the default owner
// of the installer's own token, so nobody else can swap a file between writing and running it.
#pragma once

#include <windows.h>

#include "conventions/exit_outcome.h"
#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

// executable_directory ends with a backslash; on success scratch_directory does too, and
// directory_guard holds the new directory open so that nobody can rename or delete it, and so put a
// directory of their own in its place, while the run uses it. Close the guard before removing it.
ExitOutcome MakeScratchDirectory(const wchar_t* executable_directory, PathBuffer& scratch_directory,
                                 UniqueFileHandle& directory_guard) noexcept;
