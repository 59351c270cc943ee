#include "image/pe_image.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "encoding/escaped_text.h"
#include "encoding/little_endian.h"

namespace {

bool IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The PE signature and the COFF header, where the DOS header says: the offsets of what follows.
bool ReadFileHeader(ByteSource& source, PeImage& image, std::uint16_t& section_count, std::string& error) {
  std::uint8_t dos_header[kDosHeaderSize];
  if (!source.Read(0, dos_header, sizeof dos_header) || dos_header[0] != 'M' || dos_header[1] != 'Z') {
    error = "not a Windows executable (no MZ header)";
    return false;
  }
  const std::uint32_t signature_offset = ReadUint32(dos_header + kDosPeSignatureOffset);
  std::uint8_t signature_and_coff[kPeSignatureSize + kCoffHeaderSize];
  if (!source.Read(signature_offset, signature_and_coff, sizeof signature_and_coff) ||
      std::string_view(reinterpret_cast<const char*>(signature_and_coff), 4) != std::string_view("PE\0\0", 4)) {
    error = "not a Windows executable (no PE header)";
    return false;
  }
  const std::uint8_t* coff = signature_and_coff + kPeSignatureSize;
  if (ReadUint16(coff + kCoffMachineOffset) != kMachineAmd64) {
    error = "not an x86-64 image";
    return false;
  }
  section_count = ReadUint16(coff + kCoffSectionCountOffset);
  const std::uint16_t optional_size = ReadUint16(coff + kCoffOptionalHeaderSizeOffset);
  // The headers' offsets are 32-bit fields: ones that would wrap around cannot be an image's.
  if (std::uint64_t{signature_offset} + kPeSignatureSize + kCoffHeaderSize + optional_size > UINT32_MAX) {
    error = "not a Windows executable (the PE header lies past 4 GiB)";
    return false;
  }
  image.coff_header_offset = signature_offset + kPeSignatureSize;
  image.optional_header_offset = image.coff_header_offset + kCoffHeaderSize;
  image.section_table_offset = image.optional_header_offset + optional_size;
  return true;
}

// The optional header's fixed part: a PE32+ image's layout and how many data directories it has.
bool ReadOptionalHeader(ByteSource& source, PeImage& image, std::uint32_t& directory_count, std::string& error) {
  const std::uint32_t optional_size = image.section_table_offset - image.optional_header_offset;
  std::uint8_t optional_start[kOptionalDataDirectoryOffset];
  if (optional_size < sizeof optional_start ||
      !source.Read(image.optional_header_offset, optional_start, sizeof optional_start)) {
    error = "truncated image: the optional header is incomplete";
    return false;
  }
  if (ReadUint16(optional_start + kOptionalMagicOffset) != kPe32PlusMagic) {
    error = "not a PE32+ (64-bit) image";
    return false;
  }
  image.section_alignment = ReadUint32(optional_start + kOptionalSectionAlignmentOffset);
  image.file_alignment = ReadUint32(optional_start + kOptionalFileAlignmentOffset);
  image.size_of_image = ReadUint32(optional_start + kOptionalSizeOfImageOffset);
  image.size_of_headers = ReadUint32(optional_start + kOptionalSizeOfHeadersOffset);
  image.check_sum = ReadUint32(optional_start + kOptionalCheckSumOffset);
  directory_count = ReadUint32(optional_start + kOptionalDirectoryCountOffset);
  if (directory_count <= kBaseRelocationDirectory || directory_count > kMostDataDirectories ||
      kOptionalDataDirectoryOffset + kDataDirectorySize * directory_count > optional_size) {
    error = "the optional header does not hold the data directories";
    return false;
  }
  if (!IsPowerOfTwo(image.file_alignment) || !IsPowerOfTwo(image.section_alignment)) {
    error = "the image's alignments are not powers of two";
    return false;
  }
  return true;
}

// All SizeOfHeaders bytes, once the section table is known to lie within them.
bool ReadHeaderBytes(ByteSource& source, PeImage& image, std::uint16_t section_count, std::string& error) {
  const std::uint64_t section_table_end =
      std::uint64_t{image.section_table_offset} + std::uint64_t{kSectionHeaderSize} * section_count;
  if (section_table_end > image.size_of_headers || image.size_of_headers > source.Size()) {
    error = "truncated image: the headers end past the file or the section table past the headers";
    return false;
  }
  image.headers.resize(image.size_of_headers);
  if (!source.Read(0, image.headers.data(), image.headers.size())) {
    error = "the headers cannot be read";
    return false;
  }
  return true;
}

void ReadDataDirectories(PeImage& image, std::uint32_t directory_count) {
  for (std::uint32_t index = 0; index < directory_count; ++index) {
    const std::uint8_t* field =
        &image.headers[image.optional_header_offset + kOptionalDataDirectoryOffset + kDataDirectorySize * index];
    image.directories.push_back({ReadUint32(field), ReadUint32(field + kDataDirectorySizeOffset)});
  }
}

// The section table, each section's raw data within the file and the sections in address order.
bool ReadSectionTable(ByteSource& source, PeImage& image, std::uint16_t section_count, std::string& error) {
  for (std::uint16_t index = 0; index < section_count; ++index) {
    const std::uint8_t* field = &image.headers[image.section_table_offset + kSectionHeaderSize * index];
    SectionHeader section;
    section.name.assign(reinterpret_cast<const char*>(field),
                        strnlen(reinterpret_cast<const char*>(field), kSectionNameSize));
    section.virtual_size = ReadUint32(field + kSectionVirtualSizeOffset);
    section.virtual_address = ReadUint32(field + kSectionVirtualAddressOffset);
    section.size_of_raw_data = ReadUint32(field + kSectionSizeOfRawDataOffset);
    section.pointer_to_raw_data = ReadUint32(field + kSectionPointerToRawDataOffset);
    section.characteristics = ReadUint32(field + kSectionCharacteristicsOffset);
    if (std::uint64_t{section.pointer_to_raw_data} + section.size_of_raw_data > source.Size()) {
      error = "truncated image: section " + EscapedText(section.name, EscapeContext::word) +
              " ends past the end of the file";
      return false;
    }
    if (!image.sections.empty() && section.virtual_address < image.sections.back().virtual_address) {
      error = "the sections are not in ascending address order";
      return false;
    }
    image.sections.push_back(section);
  }
  return true;
}

}  // namespace

const SectionHeader* PeImage::SectionContaining(std::uint32_t rva) const {
  for (const SectionHeader& section : sections) {
    const std::uint32_t extent = std::max(section.virtual_size, section.size_of_raw_data);
    if (rva >= section.virtual_address && rva - section.virtual_address < extent) return &section;
  }
  return nullptr;
}

bool PeImage::FileOffsetOf(std::uint32_t rva, std::uint64_t size, std::uint64_t& offset) const {
  const SectionHeader* section = SectionContaining(rva);
  if (section == nullptr) return false;
  const std::uint64_t inside = rva - section->virtual_address;
  if (inside + size > section->size_of_raw_data) return false;
  offset = section->pointer_to_raw_data + inside;
  return true;
}

bool ReadPeImage(ByteSource& source, PeImage& image, std::string& error) {
  image = PeImage{};
  std::uint16_t section_count = 0;
  std::uint32_t directory_count = 0;
  if (!ReadFileHeader(source, image, section_count, error) ||
      !ReadOptionalHeader(source, image, directory_count, error) ||
      !ReadHeaderBytes(source, image, section_count, error)) {
    return false;
  }
  ReadDataDirectories(image, directory_count);
  return ReadSectionTable(source, image, section_count, error);
}
