// Reads the parts of a 64-bit Windows image that packing and inspecting need: the headers, the
// section table, the data directories and the resource tree. Every offset is checked against the
// source, so a truncated or hostile file is refused with a one-line reason, never read past.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_source.h"
#include "resource_key.h"

inline constexpr std::size_t kResourceDirectory = 2;
inline constexpr std::size_t kCertificateDirectory = 4;
inline constexpr std::size_t kBaseRelocationDirectory = 5;
inline constexpr std::size_t kSectionHeaderSize = 40;

// Offsets of the PE32+ header fields the tool reads or changes.
inline constexpr std::uint32_t kCoffTimeDateStampOffset = 4;
inline constexpr std::uint32_t kCoffSymbolTableOffset = 8;
inline constexpr std::uint32_t kCoffSymbolCountOffset = 12;
inline constexpr std::uint32_t kOptionalSizeOfInitializedDataOffset = 8;
inline constexpr std::uint32_t kOptionalSizeOfImageOffset = 56;
inline constexpr std::uint32_t kOptionalCheckSumOffset = 64;
inline constexpr std::uint32_t kOptionalDataDirectoryOffset = 112;
inline constexpr std::uint32_t kSectionVirtualSizeOffset = 8;
inline constexpr std::uint32_t kSectionVirtualAddressOffset = 12;
inline constexpr std::uint32_t kSectionSizeOfRawDataOffset = 16;
inline constexpr std::uint32_t kSectionPointerToRawDataOffset = 20;

struct SectionHeader {
  std::string name;
  std::uint32_t virtual_size = 0;
  std::uint32_t virtual_address = 0;
  std::uint32_t size_of_raw_data = 0;
  std::uint32_t pointer_to_raw_data = 0;
  std::uint32_t characteristics = 0;
};

struct DataDirectory {
  std::uint32_t virtual_address = 0;
  std::uint32_t size = 0;
};

struct PeImage {
  std::vector<std::uint8_t> headers;  // the first SizeOfHeaders bytes of the file
  std::uint32_t coff_header_offset = 0;
  std::uint32_t optional_header_offset = 0;
  std::uint32_t section_table_offset = 0;
  std::uint32_t section_alignment = 0;
  std::uint32_t file_alignment = 0;
  std::uint32_t size_of_image = 0;
  std::uint32_t size_of_headers = 0;
  std::uint32_t check_sum = 0;
  std::vector<DataDirectory> directories;  // as many as the image declares, at least six
  std::vector<SectionHeader> sections;     // in the order of the section table

  // The section whose virtual range holds `rva`, or null.
  const SectionHeader* SectionContaining(std::uint32_t rva) const;
  // The file offset of `size` bytes at `rva`, when they all lie in one section's raw data.
  bool FileOffsetOf(std::uint32_t rva, std::uint32_t size, std::uint64_t& offset) const;
};

// One leaf of the resource tree, in directory order.
struct ResourceEntry {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t data_rva = 0;
  std::uint32_t size = 0;
  std::uint32_t code_page = 0;
};

// What reading a resource tree may cost, far beyond any real installer's (a few hundred entries,
// payload names of at most 259 units) and small enough that a hostile tree, whose directories may
// all point at the same table, is refused in moments and a few hundred MiB: directory entries
// visited on all three levels, and the length of one name in UTF-16 units.
inline constexpr std::size_t kMostResourceEntries = 65536;
inline constexpr std::size_t kLongestResourceName = 1024;

// Refuses anything but a whole PE32+ image for x86-64 whose sections lie within the source.
[[nodiscard]] bool ReadPeImage(ByteSource& source, PeImage& image, std::string& error);
// The leaves of the resource tree in the order of the directory; none when the image has no
// resource directory.
[[nodiscard]] bool ReadResourceEntries(const PeImage& image, ByteSource& source, std::vector<ResourceEntry>& entries,
                                       std::string& error);
// The same, telling a tree that passes one of the limits above (`limit_passed`) from a broken one.
[[nodiscard]] bool ReadResourceEntries(const PeImage& image, ByteSource& source, std::vector<ResourceEntry>& entries,
                                       std::string& error, bool& limit_passed);
