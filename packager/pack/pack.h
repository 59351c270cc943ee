// Packing: checks the options as the installer's run-time rules require, then writes the stub with
// the payload as a new installer. Nothing is written until every check has passed, and a failed
// pack leaves neither the output nor a temporary file behind.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>

#include "pack/pack_options.h"

// Returns the process exit code: 0 packed, 1 refused or failed (one line on `errors`).
int Pack(const PackOptions& options, std::span<const std::uint8_t> carried_stub, std::ostream& errors);

// The DOS date and time stored for the setup program in a cabinet: SOURCE_DATE_EPOCH when set, else
// its modification time, in UTC, kept within what the format can hold (1980 to 2107).
struct DosDateTime {
  std::uint16_t date = 0;
  std::uint16_t time = 0;
};
DosDateTime DosDateTimeOf(std::int64_t seconds_since_1970);
