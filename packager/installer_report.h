// The report that --inspect prints: what an installer carries and whether the installer would
// unpack it, read from the file without running it. The file may be hostile, so the work is
// bounded: the resource tree by the reader's limits (pe_image.h), and hashing by reading each
// distinct data block once and, all blocks together, no more bytes than the file holds. Names from
// the file are printed escaped (text_encoding.h), so none can forge a line of the report.
#pragma once

#include <ostream>
#include <string>

#include "byte_source.h"

// Exit codes of --inspect.
inline constexpr int kInspectionWouldSucceed = 0;
// Extraction would fail (the reason is in the report), or the file is no readable installer (one
// line on `errors`).
inline constexpr int kInspectionWouldFail = 1;
// The installer could not be read whole: data outside the file, or past a limit of --inspect. No
// verdict is given; the reason is in the report or on `errors`.
inline constexpr int kInspectionIncomplete = 3;
// The installer is signed and the signature fails: a malformed certificate table, a signature over
// something other than this image, a signer's signature that does not verify, an image digest that
// does not match, or (with a trust file) a chain that does not verify. It outranks the others.
inline constexpr int kInspectionSignatureFailed = 4;

// Prints the report to `out` and returns one of the exit codes above. With `trust_file` (a PEM file
// of certificates; empty for none) the signer's certificate chain is checked against it.
int ReportInstaller(const std::string& path, const std::string& trust_file, std::ostream& out, std::ostream& errors);
// The same for an installer's bytes from `source`, shown as `path`.
int ReportInstaller(ByteSource& source, const std::string& path, const std::string& trust_file, std::ostream& out,
                    std::ostream& errors);
