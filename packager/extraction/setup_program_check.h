// What the payload's files are, read from their first bytes: whether a setup program is an image
// Windows would start, for which machine, and whether an archive handed over as 7z is one. Only a
// bounded prefix is ever looked at, so a file of any size costs the same.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// The bytes of a setup program the check reads: real images keep their headers within the first
// kilobyte.
inline constexpr std::size_t kProgramHeaderWindow = std::size_t{64} * 1024;

struct SetupProgramCheck {
  bool is_program = false;    // a PE image: what CreateProcessW starts
  std::uint16_t machine = 0;  // the COFF header's Machine field, when is_program
  std::string problem;        // why it is not one, when !is_program
};

// Checks a file of `size` bytes from its first `prefix` bytes (up to kProgramHeaderWindow): an "MZ"
// DOS header, e_lfanew pointing within the file at "PE\0\0" and a COFF file header, and an
// optional header of PE32 (0x10B) or PE32+ (0x20B) whose standard fields lie within the file.
// Windows refuses anything less with ERROR_BAD_EXE_FORMAT.
SetupProgramCheck CheckSetupProgram(std::span<const std::uint8_t> prefix, std::uint64_t size);

// "x64 (0x8664)", "x86 (0x014C)", "ARM64 (0xAA64)", ... or "unknown (0x....)".
std::string MachineText(std::uint16_t machine);

// A 7z archive begins with these six bytes.
inline constexpr std::uint8_t k7zSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
bool BeginsWith7zSignature(std::span<const std::uint8_t> prefix);
// The warning for a "B7" archive that does not, for the report and for packing.
std::string Not7zWarning();
