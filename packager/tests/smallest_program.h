// The smallest file the tool takes for a setup program: a DOS header whose e_lfanew points at
// "PE\0\0", an x86-64 COFF header and a PE32+ optional header of the usual 240 bytes, all zero but
// its magic. Windows would not run it; it stands for a program where only the tool's checks matter.
#pragma once

#include <cstdint>
#include <vector>

#include "encoding/little_endian.h"
#include "image/pe_format.h"

inline std::vector<std::uint8_t> SmallestProgramImage() {
  constexpr std::uint32_t kOptionalHeaderSize = 240;
  std::vector<std::uint8_t> bytes(kDosHeaderSize + kPeSignatureSize + kCoffHeaderSize + kOptionalHeaderSize);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  WriteUint32(bytes.data() + kDosPeSignatureOffset, kDosHeaderSize);
  std::uint8_t* signature = bytes.data() + kDosHeaderSize;
  signature[0] = 'P';
  signature[1] = 'E';
  std::uint8_t* coff = signature + kPeSignatureSize;
  WriteUint16(coff + kCoffMachineOffset, kMachineAmd64);
  WriteUint16(coff + kCoffOptionalHeaderSizeOffset, kOptionalHeaderSize);
  WriteUint16(coff + kCoffHeaderSize + kOptionalMagicOffset, kPe32PlusMagic);
  return bytes;
}
