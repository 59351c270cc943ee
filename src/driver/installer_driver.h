// The spine of a run: settings, scratch directory, payload, the optional patch step, the install run
// and the clean-up, in that order. The first stage that fails decides the outcome.
#pragma once

#include <windows.h>

#include "conventions/exit_outcome.h"

ExitOutcome RunInstaller(HMODULE module) noexcept;
