// Every place and value of the 64-bit Windows image format the tool reads or writes: the headers,
// the section table, the data directories, the load configuration, the debug directory and the
// resource tree. Offsets are in bytes from the start of the structure they name.
#pragma once

#include <cstddef>
#include <cstdint>

// The DOS header's "MZ" and the offset of the field that points at the PE signature.
inline constexpr std::uint32_t kDosHeaderSize = 64;
inline constexpr std::uint32_t kDosPeSignatureOffset = 0x3C;
inline constexpr std::uint32_t kPeSignatureSize = 4;  // "PE\0\0"

// The COFF file header, right behind the signature.
inline constexpr std::uint32_t kCoffHeaderSize = 20;
inline constexpr std::uint32_t kCoffMachineOffset = 0;
inline constexpr std::uint32_t kCoffSectionCountOffset = 2;
inline constexpr std::uint32_t kCoffTimeDateStampOffset = 4;
inline constexpr std::uint32_t kCoffSymbolTableOffset = 8;
inline constexpr std::uint32_t kCoffSymbolCountOffset = 12;
inline constexpr std::uint32_t kCoffOptionalHeaderSizeOffset = 16;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

// The PE32+ optional header.
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr std::uint32_t kOptionalMagicOffset = 0;
inline constexpr std::uint32_t kOptionalSizeOfInitializedDataOffset = 8;
inline constexpr std::uint32_t kOptionalImageBaseOffset = 24;
inline constexpr std::uint32_t kOptionalSectionAlignmentOffset = 32;
inline constexpr std::uint32_t kOptionalFileAlignmentOffset = 36;
inline constexpr std::uint32_t kOptionalSizeOfImageOffset = 56;
inline constexpr std::uint32_t kOptionalSizeOfHeadersOffset = 60;
inline constexpr std::uint32_t kOptionalCheckSumOffset = 64;
inline constexpr std::uint32_t kOptionalDllCharacteristicsOffset = 70;
inline constexpr std::uint32_t kOptionalDirectoryCountOffset = 108;
inline constexpr std::uint32_t kOptionalDataDirectoryOffset = 112;

// DllCharacteristics flags.
inline constexpr std::uint16_t kHighEntropyVa = 0x0020;
inline constexpr std::uint16_t kDynamicBase = 0x0040;
inline constexpr std::uint16_t kNxCompatible = 0x0100;
inline constexpr std::uint16_t kGuardCf = 0x4000;

// The data directories: address and size, by index.
inline constexpr std::uint32_t kDataDirectorySize = 8;
inline constexpr std::uint32_t kDataDirectorySizeOffset = 4;
inline constexpr std::size_t kMostDataDirectories = 16;
inline constexpr std::size_t kResourceDirectory = 2;
inline constexpr std::size_t kCertificateDirectory = 4;
inline constexpr std::size_t kBaseRelocationDirectory = 5;
inline constexpr std::size_t kDebugDirectory = 6;
inline constexpr std::size_t kLoadConfigurationDirectory = 10;

// One entry of the section table.
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kSectionNameSize = 8;
inline constexpr std::uint32_t kSectionVirtualSizeOffset = 8;
inline constexpr std::uint32_t kSectionVirtualAddressOffset = 12;
inline constexpr std::uint32_t kSectionSizeOfRawDataOffset = 16;
inline constexpr std::uint32_t kSectionPointerToRawDataOffset = 20;
inline constexpr std::uint32_t kSectionCharacteristicsOffset = 36;
inline constexpr std::uint32_t kSectionInitializedData = 0x00000040;
inline constexpr std::uint32_t kSectionMemoryRead = 0x40000000;
inline constexpr std::uint32_t kSectionMemoryWrite = 0x80000000;

// The 64-bit load configuration directory is the installer's own checked record
// (runtime/load_configuration.h): its field offsets and guard flags are read from there.
inline constexpr std::uint16_t kLoadLibrarySearchSystem32 = 0x0800;

// One entry of the debug directory, and the extended DLL characteristics it may carry.
inline constexpr std::uint32_t kDebugEntrySize = 28;
inline constexpr std::uint32_t kDebugTypeOffset = 12;
inline constexpr std::uint32_t kDebugDataSizeOffset = 16;
inline constexpr std::uint32_t kDebugDataAddressOffset = 20;
inline constexpr std::uint32_t kDebugTypeExDllCharacteristics = 20;
inline constexpr std::uint32_t kExDllCharacteristicsCetCompatible = 0x1;

// The resource tree: directory tables of named then numbered entries, each pointing at a deeper
// table (high bit set) or at a data entry; a name field with the high bit set points at a
// length-prefixed UTF-16 name.
inline constexpr std::uint32_t kResourceTableSize = 16;
inline constexpr std::uint32_t kResourceNamedCountOffset = 12;
inline constexpr std::uint32_t kResourceIdCountOffset = 14;
inline constexpr std::uint32_t kResourceEntrySize = 8;
inline constexpr std::uint32_t kResourceEntryTargetOffset = 4;
inline constexpr std::uint32_t kResourceDataEntrySize = 16;
inline constexpr std::uint32_t kResourceDataSizeOffset = 4;
inline constexpr std::uint32_t kResourceCodePageOffset = 8;
inline constexpr std::uint32_t kResourceHighBit = 0x80000000;

// Integer ids of the standard resource types the tool deals with.
inline constexpr std::uint16_t kIconResourceType = 3;
inline constexpr std::uint16_t kRcdataResourceType = 10;
inline constexpr std::uint16_t kGroupIconResourceType = 14;
inline constexpr std::uint16_t kVersionResourceType = 16;
inline constexpr std::uint16_t kManifestResourceType = 24;

// The language of every resource the tool writes, as of the installer's own.
inline constexpr std::uint16_t kEnglishUnitedStatesLanguage = 1033;

// Rounds up to a multiple of a section, file or resource-data alignment.
constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}
