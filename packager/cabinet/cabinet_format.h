// The parts of the Microsoft cabinet format (MS-CAB) and its MSZIP compression that the tool writes
// and reads, named once: the cabinet writer and the reader of what the installer expands use the
// same fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/little_endian.h"

// CFHEADER: "MSCF", then 32-bit cbCabinet and coffFiles, the version, the counts and the flags.
inline constexpr std::size_t kCabinetHeaderSize = 36;
inline constexpr std::uint8_t kCabinetSignature[] = {'M', 'S', 'C', 'F'};
inline constexpr std::size_t kCabinetSizeFieldOffset = 8;
inline constexpr std::size_t kCabinetFilesOffsetOffset = 16;
inline constexpr std::size_t kCabinetVersionMinorOffset = 24;
inline constexpr std::size_t kCabinetVersionMajorOffset = 25;
inline constexpr std::size_t kCabinetFolderCountOffset = 26;
inline constexpr std::size_t kCabinetFileCountOffset = 28;
inline constexpr std::size_t kCabinetFlagsOffset = 30;
inline constexpr std::uint8_t kCabinetVersionMinor = 3;
inline constexpr std::uint8_t kCabinetVersionMajor = 1;
inline constexpr std::uint16_t kCabinetHasPrevious = 0x0001;
inline constexpr std::uint16_t kCabinetHasNext = 0x0002;
inline constexpr std::uint16_t kCabinetReservePresent = 0x0004;
// With kCabinetReservePresent: cbCFHeader (16-bit), cbCFFolder and cbCFData (8-bit each).
inline constexpr std::size_t kCabinetReserveSizesSize = 4;
// The previous and next cabinet and disk names are NUL-terminated, at most 255 bytes without it.
inline constexpr std::size_t kCabinetLongestName = 255;

// CFFOLDER: coffCabStart (32-bit), cCFData and typeCompress (16-bit).
inline constexpr std::size_t kFolderEntrySize = 8;
inline constexpr std::size_t kFolderDataBlockCountOffset = 4;
inline constexpr std::size_t kFolderCompressionOffset = 6;
inline constexpr std::uint16_t kCompressionMask = 0x000F;
inline constexpr std::uint16_t kCompressionTypeNone = 0;
inline constexpr std::uint16_t kCompressionTypeMszip = 1;
inline constexpr std::uint16_t kCompressionTypeQuantum = 2;
inline constexpr std::uint16_t kCompressionTypeLzx = 3;

// CFFILE: cbFile and uoffFolderStart (32-bit), iFolder, date, time, attribs (16-bit), then the
// NUL-terminated name.
inline constexpr std::size_t kFileEntrySize = 16;
inline constexpr std::size_t kFileFolderStartOffset = 4;
inline constexpr std::size_t kFileFolderIndexOffset = 8;
inline constexpr std::size_t kMaximumNameSize = 255;  // without the terminating NUL
inline constexpr std::uint16_t kFolderContinuedFromPrevious = 0xFFFD;
inline constexpr std::uint16_t kFolderContinuedToNext = 0xFFFE;
inline constexpr std::uint16_t kFolderContinuedBoth = 0xFFFF;
inline constexpr std::uint16_t kArchiveAttribute = 0x20;

// CFDATA: csum (32-bit), cbData and cbUncomp (16-bit), then the data.
inline constexpr std::size_t kDataBlockHeaderSize = 8;
inline constexpr std::size_t kDataBlockSizesOffset = 4;
inline constexpr std::uint16_t kMaximumDataBlockCount = 0xFFFF;
inline constexpr std::size_t kBlockCapacity = 32768;  // uncompressed bytes per block
// An MSZIP block: "CK", then a deflate stream that may refer back to the previous 32 KiB of the
// folder's uncompressed data.
inline constexpr std::uint8_t kMszipSignature[] = {'C', 'K'};

// The MS-CAB checksum: little-endian 32-bit words XORed together. The one to three bytes left
// over are folded in with the first of them most significant, as the format defines. A block's
// csum covers its data first, then cbData and cbUncomp.
inline std::uint32_t CabinetChecksum(const std::uint8_t* bytes, std::size_t size, std::uint32_t seed) noexcept {
  std::uint32_t checksum = seed;
  const std::size_t whole_words_size = size - size % 4;
  for (std::size_t i = 0; i < whole_words_size; i += 4) checksum ^= ReadUint32(bytes + i);
  std::uint32_t tail = 0;
  for (std::size_t i = whole_words_size; i < size; ++i) tail = (tail << 8) | bytes[i];
  return checksum ^ tail;
}
