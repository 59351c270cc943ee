#include "image/image_writer.h"

#include <algorithm>
#include <array>

#include "encoding/escaped_text.h"
#include "encoding/little_endian.h"
#include "host/host_file.h"

namespace {

// Measured on ext4 and tmpfs (bench/README.md): pieces that stay in the core's cache while they are
// summed and written back out; 1 MiB pieces made the kernel's copy into an ext4 output two to three
// times as slow.
constexpr std::size_t kCopyPieceSize = 256 << 10;
constexpr std::uint32_t kResourceSectionCharacteristics = kSectionInitializedData | kSectionMemoryRead;

bool WriteFailed(std::string& error) {
  error = "writing the installer failed (disk full?)";
  return false;
}

// Everything the image writer writes goes through here, so the checksum sees every byte once.
class ChecksummedOutput {
 public:
  explicit ChecksummedOutput(std::FILE* file) : file_(file) {}

  bool Write(const std::uint8_t* data, std::size_t size) {
    checksum_.Update(data, size);
    position_ += size;
    return size == 0 || std::fwrite(data, 1, size, file_) == size;
  }

  bool PadTo(std::uint64_t offset) {
    static constexpr std::array<std::uint8_t, kImageFileAlignment> kZeros{};
    while (position_ < offset) {
      if (!Write(kZeros.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kZeros.size(), offset - position_))))
        return false;
    }
    return position_ == offset;
  }

  // `input` is the file the checks were made on, never one opened again by name.
  bool CopyFile(std::FILE* input, std::uint64_t size, std::vector<std::uint8_t>& buffer, std::string& error) {
    if (!SeekFile(input, 0)) {
      error = "an input cannot be read";
      return false;
    }
    for (std::uint64_t left = size; left != 0;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      if (std::fread(buffer.data(), 1, piece, input) != piece) {
        error = "an input became shorter or unreadable while it was packed";
        return false;
      }
      if (!Write(buffer.data(), piece)) return WriteFailed(error);
      left -= piece;
    }
    return true;
  }

  std::uint64_t Position() const { return position_; }
  const ImageChecksum& Checksum() const { return checksum_; }

 private:
  std::FILE* file_;
  ImageChecksum checksum_;
  std::uint64_t position_ = 0;
};

void SetDirectory(std::vector<std::uint8_t>& headers, const PeImage& stub, std::size_t index, DataDirectory value) {
  std::uint8_t* field =
      &headers[stub.optional_header_offset + kOptionalDataDirectoryOffset + kDataDirectorySize * index];
  WriteUint32(field, value.virtual_address);
  WriteUint32(field + kDataDirectorySizeOffset, value.size);
}

}  // namespace

void ImageChecksum::Update(const std::uint8_t* data, std::size_t size) noexcept {
  if (size == 0) return;
  if (odd_) {
    sum_ += std::uint64_t{data[0]} << 8;
    ++data;
    --size;
    odd_ = false;
  }
  // One's-complement addition can be done wide and folded at the end: the result is the same. A
  // little-endian 32-bit word is its low 16-bit word plus 65536 times its high one, and 65536 is 1
  // modulo 0xFFFF, the modulus of one's-complement addition; so the 32-bit words are summed, in four
  // independent sums that the processor adds side by side.
  std::array<std::uint64_t, 4> sums{};
  std::size_t index = 0;
  for (; index + 16 <= size; index += 16) {
    for (std::size_t lane = 0; lane < sums.size(); ++lane) sums[lane] += ReadUint32(data + index + 4 * lane);
  }
  std::uint64_t sum = sums[0] + sums[1] + sums[2] + sums[3];
  for (; index + 2 <= size; index += 2) sum += ReadUint16(data + index);
  if (index < size) {
    sum += data[index];
    odd_ = true;
  }
  // Folded below 2^33 (2^32 is 1 modulo 0xFFFF too), so no number of pieces overflows the sum.
  sum_ += sum;
  sum_ = (sum_ & 0xFFFFFFFF) + (sum_ >> 32);
}

std::uint32_t ImageChecksum::Finish(std::uint64_t file_size) const noexcept {
  std::uint64_t sum = sum_;
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + file_size);
}

namespace {

// Where the stub's resources go: the section they take (a new one appended when the stub has none),
// where the copied prefix of the stub ends in the file and the resource section's address.
struct ResourcePlace {
  std::size_t section_index = 0;
  bool appended = false;
  std::uint64_t prefix_end = 0;
  std::uint64_t rva = 0;
};

// The stub's resource section, which must start a section of its own and be followed by none but
// the base relocations: only they can move, as nothing but their data directory refers to them, and
// their entries name places in the sections that stay where they are.
bool FindResourceSection(const PeImage& stub, ResourcePlace& place, std::string& error) {
  if (stub.file_alignment != kImageFileAlignment) {
    error = "the stub's file alignment is " + std::to_string(stub.file_alignment) +
            " bytes, not 4096: link it with --file-alignment 4096 so the payload stays mapped from the file";
    return false;
  }
  const std::vector<SectionHeader>& sections = stub.sections;
  const std::uint32_t resource_rva = stub.directories[kResourceDirectory].virtual_address;
  place.section_index = sections.size();
  if (resource_rva != 0) {
    const auto found = std::find_if(sections.begin(), sections.end(), [&](const SectionHeader& section) {
      return section.virtual_address == resource_rva;
    });
    if (found == sections.end() || found->size_of_raw_data == 0) {
      error = "the stub's resources do not start a section of their own";
      return false;
    }
    place.section_index = static_cast<std::size_t>(found - sections.begin());
  }
  place.appended = place.section_index == sections.size();
  const SectionHeader* relocations = stub.SectionContaining(stub.directories[kBaseRelocationDirectory].virtual_address);
  for (std::size_t index = place.section_index + 1; index < sections.size(); ++index) {
    if (&sections[index] != relocations || stub.directories[kBaseRelocationDirectory].virtual_address == 0) {
      error = "the stub's section " + EscapedText(sections[index].name, EscapeContext::word) +
              " follows its resource section and cannot be moved";
      return false;
    }
  }
  return true;
}

// The part of the stub copied as it is (headers and the sections before the resources), and the
// address the resource section takes.
bool FindPrefix(const PeImage& stub, std::span<const std::uint8_t> stub_bytes, ResourcePlace& place,
                std::string& error) {
  const std::vector<SectionHeader>& sections = stub.sections;
  if (place.appended) {
    const std::uint64_t table_end = stub.section_table_offset + kSectionHeaderSize * (sections.size() + 1);
    bool room = table_end <= stub.size_of_headers;
    for (std::uint64_t offset = table_end - kSectionHeaderSize; room && offset < table_end; ++offset)
      room = stub_bytes[offset] == 0;
    if (!room) {
      error = "the stub's headers have no room for a resource section";
      return false;
    }
    place.prefix_end = stub.size_of_headers;
    for (const SectionHeader& section : sections) {
      place.prefix_end = std::max<std::uint64_t>(place.prefix_end,
                                                 std::uint64_t{section.pointer_to_raw_data} + section.size_of_raw_data);
      place.rva = std::max<std::uint64_t>(
          place.rva, section.virtual_address + std::max(section.virtual_size, section.size_of_raw_data));
    }
    place.prefix_end = AlignUp(place.prefix_end, kImageFileAlignment);
    place.rva = AlignUp(place.rva, stub.section_alignment);
  } else {
    place.prefix_end = sections[place.section_index].pointer_to_raw_data;
    place.rva = stub.directories[kResourceDirectory].virtual_address;
    // The headers are edited in the prefix, so they must lie wholly before the resources.
    if (place.prefix_end < stub.size_of_headers) {
      error = "the stub's resource section starts inside its headers";
      return false;
    }
    for (std::size_t index = 0; index < place.section_index; ++index) {
      if (std::uint64_t{sections[index].pointer_to_raw_data} + sections[index].size_of_raw_data > place.prefix_end) {
        error = "the stub's section " + EscapedText(sections[index].name, EscapeContext::word) +
                " lies behind its resource section in the file";
        return false;
      }
    }
  }
  if (place.rva > kLargestImageSize) {
    error = "the stub's sections reach past the largest image";
    return false;
  }
  return true;
}

std::uint8_t* SectionField(std::vector<std::uint8_t>& headers, const PeImage& stub, std::size_t index,
                           std::uint32_t offset) {
  return &headers[stub.section_table_offset + kSectionHeaderSize * index + offset];
}

// The sections behind the resources (only the base relocations) move behind the new resource
// section; `position` and `next_rva` end where the image does.
bool MoveSectionsBehind(const PeImage& stub, const ResourcePlace& place, ImagePlan& plan, std::uint64_t& position,
                        std::uint64_t& next_rva, std::string& error) {
  const std::vector<SectionHeader>& sections = stub.sections;
  for (std::size_t index = place.section_index + 1; index < sections.size(); ++index) {
    const SectionHeader& section = sections[index];
    const std::uint32_t moved_rva = static_cast<std::uint32_t>(next_rva);
    const std::uint32_t raw_size = static_cast<std::uint32_t>(AlignUp(section.size_of_raw_data, kImageFileAlignment));
    plan.moved_sections.push_back({section.pointer_to_raw_data, section.size_of_raw_data, position});
    WriteUint32(SectionField(plan.prefix, stub, index, kSectionVirtualAddressOffset), moved_rva);
    WriteUint32(SectionField(plan.prefix, stub, index, kSectionPointerToRawDataOffset),
                section.size_of_raw_data == 0 ? 0 : static_cast<std::uint32_t>(position));
    WriteUint32(SectionField(plan.prefix, stub, index, kSectionSizeOfRawDataOffset), raw_size);
    const DataDirectory& old_relocations = stub.directories[kBaseRelocationDirectory];
    SetDirectory(plan.prefix, stub, kBaseRelocationDirectory,
                 {moved_rva + (old_relocations.virtual_address - section.virtual_address), old_relocations.size});
    position += raw_size;
    next_rva = AlignUp(std::uint64_t{moved_rva} + std::max(section.virtual_size, section.size_of_raw_data),
                       stub.section_alignment);
  }
  plan.file_size = position;
  if (plan.file_size > kLargestImageSize || next_rva > kLargestImageSize) {
    error = "the installer would be " + std::to_string(std::max(plan.file_size, next_rva)) +
            " bytes; an installer image holds at most " + std::to_string(kLargestImageSize) +
            " bytes (4 GiB less one 4 KiB page: its sizes and addresses are 32-bit fields)";
    return false;
  }
  return true;
}

// The resource section's header (added when the stub had none) and the headers' sizes, with no
// timestamp and no symbol table (nothing of the stub's tail is kept), and no certificate: a
// signature of the stub would not cover the installer.
void WriteHeaders(const PeImage& stub, const ResourcePlace& place, std::uint64_t image_size, ImagePlan& plan) {
  std::vector<std::uint8_t>& headers = plan.prefix;
  const std::uint64_t resource_raw_size = AlignUp(plan.resources.size, kImageFileAlignment);
  std::uint8_t* resource_header = SectionField(headers, stub, place.section_index, 0);
  const std::uint32_t old_resource_raw_size = place.appended ? 0 : stub.sections[place.section_index].size_of_raw_data;
  if (place.appended) {
    std::copy_n(".rsrc\0\0\0", 8, resource_header);
    WriteUint32(resource_header + kSectionCharacteristicsOffset, kResourceSectionCharacteristics);
    std::uint8_t* count = &headers[stub.coff_header_offset + kCoffSectionCountOffset];
    WriteUint16(count, static_cast<std::uint16_t>(ReadUint16(count) + 1));
  }
  const std::uint32_t section_rva = static_cast<std::uint32_t>(place.rva);
  WriteUint32(resource_header + kSectionVirtualSizeOffset, static_cast<std::uint32_t>(plan.resources.size));
  WriteUint32(resource_header + kSectionVirtualAddressOffset, section_rva);
  WriteUint32(resource_header + kSectionSizeOfRawDataOffset, static_cast<std::uint32_t>(resource_raw_size));
  WriteUint32(resource_header + kSectionPointerToRawDataOffset, static_cast<std::uint32_t>(place.prefix_end));

  WriteUint32(&headers[stub.coff_header_offset + kCoffTimeDateStampOffset], 0);
  WriteUint32(&headers[stub.coff_header_offset + kCoffSymbolTableOffset], 0);
  WriteUint32(&headers[stub.coff_header_offset + kCoffSymbolCountOffset], 0);
  std::uint8_t* optional = &headers[stub.optional_header_offset];
  WriteUint32(optional + kOptionalSizeOfInitializedDataOffset,
              ReadUint32(optional + kOptionalSizeOfInitializedDataOffset) - old_resource_raw_size +
                  static_cast<std::uint32_t>(resource_raw_size));
  WriteUint32(optional + kOptionalSizeOfImageOffset, static_cast<std::uint32_t>(image_size));
  WriteUint32(optional + kOptionalCheckSumOffset, 0);
  SetDirectory(headers, stub, kResourceDirectory, {section_rva, static_cast<std::uint32_t>(plan.resources.size)});
  SetDirectory(headers, stub, kCertificateDirectory, {});
  plan.check_sum_offset = stub.optional_header_offset + kOptionalCheckSumOffset;
}

}  // namespace

bool PlanImage(const PeImage& stub, std::span<const std::uint8_t> stub_bytes, std::vector<ResourceItem> resources,
               ImagePlan& plan, std::string& error) {
  plan = ImagePlan{};
  ResourcePlace place;
  if (!FindResourceSection(stub, place, error) || !FindPrefix(stub, stub_bytes, place, error)) return false;
  if (!LayOutResourceTree(std::move(resources), static_cast<std::uint32_t>(place.rva), plan.resources, error)) {
    return false;
  }
  plan.resource_section_offset = place.prefix_end;
  // A stub whose last section ends short of a 4 KiB boundary is padded with zeros up to it.
  plan.prefix.assign(place.prefix_end, 0);
  std::copy_n(stub_bytes.begin(), std::min<std::uint64_t>(place.prefix_end, stub_bytes.size()), plan.prefix.begin());
  std::uint64_t position = place.prefix_end + AlignUp(plan.resources.size, kImageFileAlignment);
  std::uint64_t next_rva = AlignUp(place.rva + plan.resources.size, stub.section_alignment);
  if (!MoveSectionsBehind(stub, place, plan, position, next_rva, error)) return false;
  WriteHeaders(stub, place, next_rva, plan);
  return true;
}

bool WriteImage(const ImagePlan& plan, std::span<const std::uint8_t> stub_bytes, std::FILE* output,
                std::string& error) {
  ChecksummedOutput out(output);
  std::vector<std::uint8_t> buffer(kCopyPieceSize);
  if (!out.Write(plan.prefix.data(), plan.prefix.size()) ||
      !out.Write(plan.resources.directory.data(), plan.resources.directory.size())) {
    return WriteFailed(error);
  }
  for (const PlacedResource& placed : plan.resources.placed) {
    if (!out.PadTo(plan.resource_section_offset + placed.offset)) return WriteFailed(error);
    const ResourceContent& content = placed.item->content;
    if (content.file == nullptr) {
      if (!out.Write(content.bytes.data(), content.bytes.size())) return WriteFailed(error);
    } else if (!out.CopyFile(content.file, content.size, buffer, error)) {
      return false;
    }
  }
  for (const MovedSection& moved : plan.moved_sections) {
    if (!out.PadTo(moved.output_offset) || !out.Write(stub_bytes.data() + moved.stub_offset, moved.size)) {
      return WriteFailed(error);
    }
  }
  if (!out.PadTo(plan.file_size)) return WriteFailed(error);

  std::uint8_t check_sum[4];
  WriteUint32(check_sum, out.Checksum().Finish(plan.file_size));
  if (std::fflush(output) != 0 || !SeekFile(output, plan.check_sum_offset) ||
      std::fwrite(check_sum, 1, 4, output) != 4 || std::fflush(output) != 0) {
    return WriteFailed(error);
  }
  return true;
}
