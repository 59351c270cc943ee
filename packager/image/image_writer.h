// Lays out and writes an installer image: the stub's headers and sections as they are, one resource
// section holding the stub's own resources and the payload, and the sections that followed the
// stub's resource section moved behind the new one. The output is streamed, with the header
// checksum summed on the way, so memory does not grow with the payload; the same inputs always
// give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "image/pe_image.h"
#include "image/resource_tree.h"

// Every size and address of an image is a 32-bit field; this is the largest image whose last page
// still has a 32-bit address. A payload that would make a larger image is refused. Wine loads and
// runs an installer of exactly this size; Windows documents 2 GiB as the most it loads (see README).
inline constexpr std::uint64_t kLargestImageSize = 0xFFFFF000;
// What Windows documents for 64-bit images: it starts none of this size or larger, so packing refuses
// them and --inspect says they would fail.
inline constexpr std::uint64_t kLargestWindowsImageSize = 0x80000000;
// A 4 KiB file alignment lets the loader map the payload from the file instead of copying it.
inline constexpr std::uint32_t kImageFileAlignment = 4096;

struct MovedSection {
  std::uint32_t stub_offset = 0;
  std::uint32_t size = 0;
  std::uint64_t output_offset = 0;
};

struct ImagePlan {
  std::vector<std::uint8_t>
      prefix;  // the output's first bytes: edited headers and the stub's sections before the resources
  std::uint64_t resource_section_offset = 0;
  ResourceTreeLayout resources;
  std::vector<MovedSection> moved_sections;
  std::uint64_t file_size = 0;
  std::uint32_t check_sum_offset = 0;
};

// Plans the image of `stub` (whose bytes are `stub_bytes`) with `resources` as its whole resource
// section. Refuses a stub whose layout the plan cannot keep sound, and an image larger than
// kLargestImageSize, before anything is written.
[[nodiscard]] bool PlanImage(const PeImage& stub, std::span<const std::uint8_t> stub_bytes,
                             std::vector<ResourceItem> resources, ImagePlan& plan, std::string& error);

// Writes the planned image to `output` from its start; file contents are copied in 256 KiB pieces.
[[nodiscard]] bool WriteImage(const ImagePlan& plan, std::span<const std::uint8_t> stub_bytes, std::FILE* output,
                              std::string& error);

// The PE header checksum: the 16-bit one's-complement sum of the file's little-endian words
// (the checksum field itself counted as zero) plus the file's length. Fed in pieces of any size
// (each under 16 GiB).
class ImageChecksum {
 public:
  void Update(const std::uint8_t* data, std::size_t size) noexcept;
  std::uint32_t Finish(std::uint64_t file_size) const noexcept;

 private:
  std::uint64_t sum_ = 0;
  bool odd_ = false;  // the next byte is the high half of a word
};
