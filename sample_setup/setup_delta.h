// The delta format with which one setup program is rebuilt into the next. A delta names the program
// it applies to by size and hash, and the result by size and hash, so a delta for another program,
// a damaged delta or a wrong result is refused before anything is written.
//
// Layout, all numbers unsigned 64-bit little-endian:
//   "ZVDELTA1"  old size, old hash  new size, new hash  body size, body hash  body
// The body is a sequence of operations that build the new program from front to back:
//   'C' offset length   copy length bytes of the old program from offset
//   'A' length bytes    add length literal bytes
// The hash is 64-bit FNV-1a.
#pragma once

#include <cstdint>
#include <string>

uint64_t DeltaHash(const std::string& bytes);

// A delta that rebuilds new_program from old_program.
std::string MakeDelta(const std::string& old_program, const std::string& new_program);

enum class DeltaResult {
  applied,
  made_for_another_program,  // the old program's size or hash differs from what the delta records
  damaged,                   // truncated, malformed, or its body or result fails its hash
};

// Fills new_program only when the result is applied.
DeltaResult ApplyDelta(const std::string& old_program, const std::string& delta, std::string& new_program);
