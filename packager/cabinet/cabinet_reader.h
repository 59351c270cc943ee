// Expands the first file of a Microsoft cabinet the way the installer has Windows' cabinet library
// do it, without Windows: for --inspect's hash of the setup program a cabinet holds and for
// --extract. The cabinet comes from a file the tool does not trust, so every size and count is
// checked against the cabinet's bytes before it is used, only one data block (at most 64 KiB) and
// 32 KiB of history are held at a time, and the expanded bytes are handed on as they come, up to a
// limit the caller sets.
//
// What is read: one cabinet of format version 1.3, with or without reserved areas and names of
// neighbouring cabinets, whose first file lies in a folder stored uncompressed or with MSZIP. The
// installer takes the first file only, whatever its name, so the rest of the cabinet is not read.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "host/byte_source.h"

struct CabinetExpansion {
  enum class Result {
    kExpanded,      // the whole first file was handed on
    kRefused,       // the cabinet library would not expand it either: the installer's run would fail
    kNotRead,       // valid for the library perhaps, but not for this reader (LZX, Quantum, a limit)
    kOutputFailed,  // the output said stop
  };
  Result result = Result::kRefused;
  std::string reason;     // for every result but kExpanded
  std::string file_name;  // the first file's name in the cabinet, as its bytes stand
  std::uint32_t file_size = 0;
};

// Receives the expanded bytes in order; false stops the expansion.
using CabinetOutput = std::function<bool(std::span<const std::uint8_t>)>;

// Expands the first file of the cabinet that occupies `size` bytes of `source` from `offset`.
// Refused as kNotRead when the file would take more than `largest_expansion` bytes of expansion
// (its offset in the folder and its size together).
CabinetExpansion ExpandFirstCabinetFile(ByteSource& source, std::uint64_t offset, std::uint64_t size,
                                        std::uint64_t largest_expansion, const CabinetOutput& output);
