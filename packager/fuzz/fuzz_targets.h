// The ways bytes from outside enter drelix-pack, as the fuzzers drive them and the regression test
// replays every input the fuzzers ever found: an installer given to --inspect, an installer without
// payload given to --stub, the version block either carries, an .ico file given to --icon, an
// installer's certificate table, the text every report and message escapes, and the setup cabinet
// --inspect and --extract expand. None may crash, read or write out of bounds, or take memory or time
// out of proportion to its input.
#pragma once

#include <cstdint>
#include <span>

// --inspect of a file holding `bytes`.
int InspectBytes(std::span<const std::uint8_t> bytes);
// Packing a small archive and a plain setup program with `bytes` as the stub, into a folder of the
// process's own.
int PackWithStub(std::span<const std::uint8_t> bytes);
// Reading `bytes` as a version block: 0 refused, 1 read. A block that is read and written again
// must read back the same, or the process aborts.
int ReadVersionBlockBytes(std::span<const std::uint8_t> bytes);
// Reading `bytes` as an .ico file: 0 refused, 1 read. The group made of what is read must read back
// with an entry per image, each image's own size the entry's, or the process aborts.
int ReadIconFileBytes(std::span<const std::uint8_t> bytes);
// Checking the signature of a small image whose certificate table holds `bytes`: 0 unsigned or
// valid, 1 failed.
int CheckSignatureTable(std::span<const std::uint8_t> bytes);
// Escaping `bytes` as UTF-8 and, two bytes a unit, as UTF-16, in every context: the result must hold
// only visible characters and escapes (no raw control, quote, or, in a word, space or '='), and
// decode back to the input unit for unit, or the process aborts.
void EscapeBytes(std::span<const std::uint8_t> bytes);
// Expanding `bytes` as a setup cabinet, up to 16 MiB: the result, with the bytes handed on checked
// against the size the cabinet gives.
int ExpandCabinetBytes(std::span<const std::uint8_t> bytes);
