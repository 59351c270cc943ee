// Lays out a resource section: the three-level directory (types, names, languages) sorted as
// Windows' binary search expects, the data entries, the names, and where each resource's bytes go.
// Only the small directory part is built in memory; the bytes of a payload stay in their file until
// the image writer streams them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "resource_key.h"

// Where a resource's bytes come from when the image is written.
struct ResourceContent {
  std::vector<std::uint8_t> bytes;  // small resources, held whole
  std::FILE* file = nullptr;        // a payload, streamed from the start of this open file when set
  std::uint64_t size = 0;
};

struct ResourceItem {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t code_page = 0;
  ResourceContent content;
};

struct PlacedResource {
  std::uint64_t offset = 0;  // from the start of the section
  const ResourceItem* item = nullptr;
};

struct ResourceSectionLayout {
  std::vector<ResourceItem> items;      // sorted into directory order
  std::vector<std::uint8_t> directory;  // tables, data entries and names: the start of the section
  std::vector<PlacedResource> placed;   // each item's bytes, in ascending offset
  std::uint64_t size = 0;               // the section's content, without alignment padding
};

// Each resource's bytes start on an 8-byte boundary, as the resource compiler places them.
inline constexpr std::uint64_t kResourceDataAlignment = 8;

// Sorts `items` and lays them out for a section at `section_rva`; refuses two items with the same
// type, name and language. Offsets are 64-bit; the caller refuses a section too large for the
// image before it writes anything.
[[nodiscard]] bool LayOutResourceSection(std::vector<ResourceItem> items, std::uint32_t section_rva,
                                         ResourceSectionLayout& layout, std::string& error);
