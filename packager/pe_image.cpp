#include "pe_image.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "little_endian.h"

namespace {

constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kCoffHeaderSize = 20;
constexpr std::uint32_t kDirectoryTableSize = 16;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000;

bool IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Reads the resource directory through its RVA, which keeps every read inside the section.
class ResourceTreeReader {
 public:
  ResourceTreeReader(const PeImage& image, ByteSource& source, std::vector<ResourceEntry>& entries, std::string& error,
                     bool& limit_passed)
      : image_(image), source_(source), entries_(entries), error_(error), limit_passed_(limit_passed) {
    base_ = image.directories[kResourceDirectory].virtual_address;
  }

  bool ReadDirectory(std::uint32_t offset, int level, ResourceEntry path) {
    std::uint8_t table[kDirectoryTableSize];
    if (!ReadAt(offset, table, sizeof table)) return false;
    const std::uint32_t count = ReadUint16(table + 12) + ReadUint16(table + 14);
    for (std::uint32_t index = 0; index < count; ++index) {
      if (++visited_ > kMostResourceEntries) {
        return Beyond("the resource directory has more than " + std::to_string(kMostResourceEntries) + " entries");
      }
      std::uint8_t entry[kDirectoryEntrySize];
      if (!ReadAt(offset + kDirectoryTableSize + index * kDirectoryEntrySize, entry, sizeof entry)) return false;
      const std::uint32_t name_field = ReadUint32(entry);
      const std::uint32_t target = ReadUint32(entry + 4);
      ResourceKey key;
      if ((name_field & kHighBit) != 0) {
        if (!ReadName(name_field & ~kHighBit, key.name)) return false;
        if (key.name.empty()) return Fail("the resource directory holds an empty name");
      } else {
        key.id = static_cast<std::uint16_t>(name_field);
      }
      const bool is_directory = (target & kHighBit) != 0;
      if (level == 0) path.type = key;
      if (level == 1) path.name = key;
      if (level == 2) {
        if (key.IsName()) return Fail("a resource language is a name, not a number");
        path.language = key.id;
      }
      if (is_directory != (level < 2)) return Fail("the resource directory is not three levels deep");
      if (is_directory) {
        if (!ReadDirectory(target & ~kHighBit, level + 1, path)) return false;
      } else {
        std::uint8_t data_entry[kDataEntrySize];
        if (!ReadAt(target, data_entry, sizeof data_entry)) return false;
        path.data_rva = ReadUint32(data_entry);
        path.size = ReadUint32(data_entry + 4);
        path.code_page = ReadUint32(data_entry + 8);
        entries_.push_back(path);
      }
    }
    return true;
  }

 private:
  bool ReadName(std::uint32_t offset, std::u16string& name) {
    std::uint8_t length_field[2];
    if (!ReadAt(offset, length_field, sizeof length_field)) return false;
    const std::size_t length = ReadUint16(length_field);
    if (length > kLongestResourceName) {
      return Beyond("a resource name is " + std::to_string(length) + " units long, more than " +
                    std::to_string(kLongestResourceName));
    }
    std::vector<std::uint8_t> units(2 * length);
    if (!ReadAt(offset + 2, units.data(), static_cast<std::uint32_t>(units.size()))) return false;
    name.clear();
    for (std::size_t index = 0; index < units.size(); index += 2)
      name += static_cast<char16_t>(ReadUint16(&units[index]));
    return true;
  }

  bool ReadAt(std::uint32_t offset, void* destination, std::uint32_t size) {
    std::uint64_t file_offset = 0;
    const std::uint64_t rva = std::uint64_t{base_} + offset;
    if (rva > UINT32_MAX || !image_.FileOffsetOf(static_cast<std::uint32_t>(rva), size, file_offset) ||
        !source_.Read(file_offset, destination, size)) {
      return Fail("the resource directory points outside the file");
    }
    return true;
  }

  bool Fail(const char* reason) {
    error_ = reason;
    return false;
  }

  bool Beyond(std::string reason) {
    error_ = std::move(reason);
    limit_passed_ = true;
    return false;
  }

  const PeImage& image_;
  ByteSource& source_;
  std::vector<ResourceEntry>& entries_;
  std::string& error_;
  bool& limit_passed_;
  std::uint32_t base_ = 0;
  std::size_t visited_ = 0;
};

}  // namespace

const SectionHeader* PeImage::SectionContaining(std::uint32_t rva) const {
  for (const SectionHeader& section : sections) {
    const std::uint32_t extent = std::max(section.virtual_size, section.size_of_raw_data);
    if (rva >= section.virtual_address && rva - section.virtual_address < extent) return &section;
  }
  return nullptr;
}

bool PeImage::FileOffsetOf(std::uint32_t rva, std::uint32_t size, std::uint64_t& offset) const {
  const SectionHeader* section = SectionContaining(rva);
  if (section == nullptr) return false;
  const std::uint64_t inside = rva - section->virtual_address;
  if (inside + size > section->size_of_raw_data) return false;
  offset = section->pointer_to_raw_data + inside;
  return true;
}

bool ReadPeImage(ByteSource& source, PeImage& image, std::string& error) {
  image = PeImage{};
  std::uint8_t dos_header[64];
  if (!source.Read(0, dos_header, sizeof dos_header) || dos_header[0] != 'M' || dos_header[1] != 'Z') {
    error = "not a Windows executable (no MZ header)";
    return false;
  }
  const std::uint32_t signature_offset = ReadUint32(dos_header + 0x3C);
  std::uint8_t signature_and_coff[4 + kCoffHeaderSize];
  if (!source.Read(signature_offset, signature_and_coff, sizeof signature_and_coff) ||
      std::string_view(reinterpret_cast<const char*>(signature_and_coff), 4) != std::string_view("PE\0\0", 4)) {
    error = "not a Windows executable (no PE header)";
    return false;
  }
  const std::uint8_t* coff = signature_and_coff + 4;
  if (ReadUint16(coff) != kMachineAmd64) {
    error = "not an x86-64 image";
    return false;
  }
  const std::uint16_t section_count = ReadUint16(coff + 2);
  const std::uint16_t optional_size = ReadUint16(coff + 16);
  // The headers' offsets are 32-bit fields: ones that would wrap around cannot be an image's.
  if (std::uint64_t{signature_offset} + 4 + kCoffHeaderSize + optional_size > UINT32_MAX) {
    error = "not a Windows executable (the PE header lies past 4 GiB)";
    return false;
  }
  image.coff_header_offset = signature_offset + 4;
  image.optional_header_offset = image.coff_header_offset + kCoffHeaderSize;
  image.section_table_offset = image.optional_header_offset + optional_size;

  std::uint8_t optional_start[kOptionalDataDirectoryOffset];
  if (optional_size < sizeof optional_start ||
      !source.Read(image.optional_header_offset, optional_start, sizeof optional_start)) {
    error = "truncated image: the optional header is incomplete";
    return false;
  }
  if (ReadUint16(optional_start) != kPe32PlusMagic) {
    error = "not a PE32+ (64-bit) image";
    return false;
  }
  image.section_alignment = ReadUint32(optional_start + 32);
  image.file_alignment = ReadUint32(optional_start + 36);
  image.size_of_image = ReadUint32(optional_start + kOptionalSizeOfImageOffset);
  image.size_of_headers = ReadUint32(optional_start + 60);
  image.check_sum = ReadUint32(optional_start + kOptionalCheckSumOffset);
  const std::uint32_t directory_count = ReadUint32(optional_start + 108);
  if (directory_count <= kBaseRelocationDirectory || directory_count > 16 ||
      kOptionalDataDirectoryOffset + 8 * directory_count > optional_size) {
    error = "the optional header does not hold the data directories";
    return false;
  }
  if (!IsPowerOfTwo(image.file_alignment) || !IsPowerOfTwo(image.section_alignment)) {
    error = "the image's alignments are not powers of two";
    return false;
  }
  const std::uint64_t section_table_end =
      std::uint64_t{image.section_table_offset} + kSectionHeaderSize * section_count;
  if (section_table_end > image.size_of_headers || image.size_of_headers > source.Size()) {
    error = "truncated image: the headers end past the file or the section table past the headers";
    return false;
  }
  image.headers.resize(image.size_of_headers);
  if (!source.Read(0, image.headers.data(), image.headers.size())) {
    error = "the headers cannot be read";
    return false;
  }
  for (std::uint32_t index = 0; index < directory_count; ++index) {
    const std::uint8_t* field = &image.headers[image.optional_header_offset + kOptionalDataDirectoryOffset + 8 * index];
    image.directories.push_back({ReadUint32(field), ReadUint32(field + 4)});
  }
  for (std::uint16_t index = 0; index < section_count; ++index) {
    const std::uint8_t* field = &image.headers[image.section_table_offset + kSectionHeaderSize * index];
    SectionHeader section;
    section.name.assign(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), 8));
    section.virtual_size = ReadUint32(field + kSectionVirtualSizeOffset);
    section.virtual_address = ReadUint32(field + kSectionVirtualAddressOffset);
    section.size_of_raw_data = ReadUint32(field + kSectionSizeOfRawDataOffset);
    section.pointer_to_raw_data = ReadUint32(field + kSectionPointerToRawDataOffset);
    section.characteristics = ReadUint32(field + 36);
    if (std::uint64_t{section.pointer_to_raw_data} + section.size_of_raw_data > source.Size()) {
      error = "truncated image: section " + section.name + " ends past the end of the file";
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

bool ReadResourceEntries(const PeImage& image, ByteSource& source, std::vector<ResourceEntry>& entries,
                         std::string& error, bool& limit_passed) {
  entries.clear();
  limit_passed = false;
  if (image.directories[kResourceDirectory].virtual_address == 0) return true;
  ResourceTreeReader reader(image, source, entries, error, limit_passed);
  return reader.ReadDirectory(0, 0, ResourceEntry{});
}

bool ReadResourceEntries(const PeImage& image, ByteSource& source, std::vector<ResourceEntry>& entries,
                         std::string& error) {
  bool limit_passed = false;
  return ReadResourceEntries(image, source, entries, error, limit_passed);
}
