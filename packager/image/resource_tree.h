// The resource tree of an image, read and written with one record per resource: its three-level
// directory (types, names, languages) sorted as Windows' binary search expects, the data entries,
// the names, and where each resource's bytes lie. Reading checks every offset against the image, so
// a truncated or hostile tree is refused with a one-line reason; writing builds only the small
// directory part in memory, and the bytes of a payload stay in their file until the image writer
// streams them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/byte_source.h"
#include "image/pe_image.h"
#include "image/resource_key.h"

// Where a resource's bytes are: in the image it was read from, held whole, or in an open file.
struct ResourceContent {
  std::vector<std::uint8_t> bytes;  // small resources, held whole
  std::FILE* file = nullptr;        // a payload, streamed from the start of this open file when set
  std::uint64_t size = 0;
  std::uint32_t data_rva = 0;  // read from an image: the address of its bytes there
};

struct ResourceItem {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t code_page = 0;
  ResourceContent content;
};

// The first resource of integer type `type`, or null: where an image holds one of a kind (its
// version block, its icon group).
template <typename Items>
auto FirstOfType(Items& items, std::uint16_t type) -> decltype(&*items.begin()) {
  const auto found = std::find_if(items.begin(), items.end(),
                                  [&](const ResourceItem& item) { return item.type == ResourceKey::Id(type); });
  return found == items.end() ? nullptr : &*found;
}

// What reading a resource tree may cost, far beyond any real installer's (a few hundred entries,
// payload names of at most 259 units) and small enough that a hostile tree, whose directories may
// all point at the same table, is refused in moments and a few hundred MiB: directory entries
// visited on all three levels, and the length of one name in UTF-16 units.
inline constexpr std::size_t kMostResourceEntries = 65536;
inline constexpr std::size_t kLongestResourceName = 1024;

// The leaves of `image`'s resource tree in directory order, each with its data's address and size;
// none when the image has no resource directory. `limit_passed` tells a tree that passes one of the
// limits above from a broken one.
[[nodiscard]] bool ReadResourceTree(const PeImage& image, ByteSource& source, std::vector<ResourceItem>& items,
                                    std::string& error, bool& limit_passed);
[[nodiscard]] bool ReadResourceTree(const PeImage& image, ByteSource& source, std::vector<ResourceItem>& items,
                                    std::string& error);

struct PlacedResource {
  std::uint64_t offset = 0;  // from the start of the section
  const ResourceItem* item = nullptr;
};

struct ResourceTreeLayout {
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
[[nodiscard]] bool LayOutResourceTree(std::vector<ResourceItem> items, std::uint32_t section_rva,
                                      ResourceTreeLayout& layout, std::string& error);
