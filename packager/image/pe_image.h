// Reads the parts of a 64-bit Windows image that packing and inspecting need: the headers, the
// section table and the data directories (the resource tree is resource_tree.h's). Every offset is checked against the
// source, so a truncated or hostile file is refused with a one-line reason, never read past.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/byte_source.h"
#include "image/pe_format.h"

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
  bool FileOffsetOf(std::uint32_t rva, std::uint64_t size, std::uint64_t& offset) const;
};

// Refuses anything but a whole PE32+ image for x86-64 whose sections lie within the source.
[[nodiscard]] bool ReadPeImage(ByteSource& source, PeImage& image, std::string& error);
