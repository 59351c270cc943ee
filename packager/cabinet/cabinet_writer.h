// Writes the one-file Microsoft cabinet (MS-CAB, MSZIP compression) that the installer expands
// through cabinet.dll. The input is streamed in 32 KiB pieces, so memory stays flat whatever its
// size, and the output depends only on the input bytes, the name, the date and the time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Writes a Microsoft cabinet holding exactly one file, `inner_name`, whose bytes are read from
// `input` (input_size bytes, read in 32 KiB pieces: memory stays flat whatever the size),
// compressed with MSZIP. `dos_date`/`dos_time` are stored as the file's date and time (FAT format).
// Returns false with a one-line reason in `error` on a read/write failure, a file too large for the
// format, or a zlib failure.
//
// The cabinet starts at `output`'s current position, which need not be 0: everything the caller
// wrote before stays as it is, and the cabinet's own offsets count from where it starts. `output`
// must be a seekable stream opened for writing without append mode ("wb", "w+b" or "r+b"), because
// the cabinet's total size is written into its header after the data. On success the position is
// at the cabinet's end. Refused arguments (a name that is empty, longer than 255 bytes or not
// printable ASCII, more than 2,147,450,880 input bytes) are reported before anything is written.
[[nodiscard]] bool WriteCabinet(std::FILE* input, std::uint64_t input_size, std::string_view inner_name,
                                std::uint16_t dos_date, std::uint16_t dos_time, std::FILE* output, std::string& error);
