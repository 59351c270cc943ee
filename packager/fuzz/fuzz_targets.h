// The ways bytes from outside enter drelix-pack, as the fuzzers drive them and the regression test
// replays every input the fuzzers ever found: an installer given to --inspect, an installer without
// payload given to --stub, the version block either carries, and the setup cabinet --inspect and
// --extract expand. None may crash, read or write out
// of bounds, or take memory or time out of proportion to its input.
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
// Expanding `bytes` as a setup cabinet, up to 16 MiB: the result, with the bytes handed on checked
// against the size the cabinet gives.
int ExpandCabinetBytes(std::span<const std::uint8_t> bytes);
