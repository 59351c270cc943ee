// The report that --inspect prints: what an installer carries and whether the installer would
// unpack it, read from the file without running it. Payload bytes are hashed in pieces, so an
// installer of any size is read with flat memory.
#pragma once

#include <ostream>
#include <string>

// Prints the report to `out` and returns the exit code: 0 when extraction would succeed, 1 when
// it would fail (the reason is in the report) or the file cannot be read (one line on `errors`).
int ReportInstaller(const std::string& path, std::ostream& out, std::ostream& errors);
