#include "resource_section.h"

#include <algorithm>

#include "little_endian.h"
#include "text_encoding.h"

namespace {

constexpr std::uint32_t kDirectoryTableSize = 16;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// One directory table of the tree and the entries it holds, before offsets are known.
struct DirectoryNode {
  std::vector<std::pair<ResourceKey, std::size_t>> children;  // key, then a node index or an item index
  bool leaves = false;                                        // children are items (language level)
  std::uint32_t offset = 0;
};

std::string Describe(const ResourceItem& item) {
  const auto key = [](const ResourceKey& key) {
    return key.IsName() ? EscapedUtf8FromUtf16(key.name) : "#" + std::to_string(key.id);
  };
  return key(item.type) + "/" + key(item.name) + " language " + std::to_string(item.language);
}

}  // namespace

bool LayOutResourceSection(std::vector<ResourceItem> items, std::uint32_t section_rva, ResourceSectionLayout& layout,
                           std::string& error) {
  std::stable_sort(items.begin(), items.end(), [](const ResourceItem& left, const ResourceItem& right) {
    if (!(left.type == right.type)) return left.type < right.type;
    if (!(left.name == right.name)) return left.name < right.name;
    return left.language < right.language;
  });
  for (std::size_t index = 1; index < items.size(); ++index) {
    const ResourceItem& previous = items[index - 1];
    if (previous.type == items[index].type && previous.name == items[index].name &&
        previous.language == items[index].language) {
      error = "two resources are both " + Describe(items[index]);
      return false;
    }
  }

  // Root, one table per type, one per name; children in sorted order since the items are.
  std::vector<DirectoryNode> nodes(1);
  for (std::size_t index = 0; index < items.size(); ++index) {
    const ResourceItem& item = items[index];
    DirectoryNode& root = nodes[0];
    if (root.children.empty() || !(root.children.back().first == item.type)) {
      root.children.emplace_back(item.type, nodes.size());
      nodes.emplace_back();
    }
    const std::size_t type_node = nodes[0].children.back().second;
    if (nodes[type_node].children.empty() || !(nodes[type_node].children.back().first == item.name)) {
      nodes[type_node].children.emplace_back(item.name, nodes.size());
      nodes.emplace_back();
      nodes.back().leaves = true;
    }
    const std::size_t name_node = nodes[type_node].children.back().second;
    nodes[name_node].children.emplace_back(ResourceKey::Id(item.language), index);
  }

  // Tables first, in creation order (root, types, names), then data entries, then names, then data.
  std::uint64_t position = 0;
  for (DirectoryNode& node : nodes) {
    node.offset = static_cast<std::uint32_t>(position);
    position += kDirectoryTableSize + kDirectoryEntrySize * node.children.size();
  }
  const std::uint64_t data_entries_offset = position;
  position += kDataEntrySize * items.size();
  std::vector<std::pair<std::u16string, std::uint32_t>> name_offsets;
  const auto name_offset = [&](const std::u16string& name) -> std::uint32_t {
    for (const auto& [known, offset] : name_offsets) {
      if (known == name) return offset;
    }
    name_offsets.emplace_back(name, static_cast<std::uint32_t>(position));
    position += 2 + 2 * name.size();
    return name_offsets.back().second;
  };
  for (const DirectoryNode& node : nodes) {
    if (node.leaves) continue;
    for (const auto& [key, child] : node.children) {
      if (key.IsName()) name_offset(key.name);
    }
  }

  std::vector<std::uint8_t> directory(position);
  for (const DirectoryNode& node : nodes) {
    std::uint8_t* table = &directory[node.offset];
    const auto named = std::count_if(node.children.begin(), node.children.end(),
                                     [](const auto& child) { return child.first.IsName(); });
    WriteUint16(table + 12, static_cast<std::uint16_t>(named));
    WriteUint16(table + 14, static_cast<std::uint16_t>(node.children.size() - named));
    std::uint8_t* entry = table + kDirectoryTableSize;
    for (const auto& [key, child] : node.children) {
      WriteUint32(entry, key.IsName() ? kHighBit | name_offset(key.name) : key.id);
      WriteUint32(entry + 4, node.leaves ? static_cast<std::uint32_t>(data_entries_offset + kDataEntrySize * child)
                                         : kHighBit | nodes[child].offset);
      entry += kDirectoryEntrySize;
    }
  }
  for (const auto& [name, offset] : name_offsets) {
    WriteUint16(&directory[offset], static_cast<std::uint16_t>(name.size()));
    for (std::size_t unit = 0; unit < name.size(); ++unit) WriteUint16(&directory[offset + 2 + 2 * unit], name[unit]);
  }

  layout.placed.clear();
  for (std::size_t index = 0; index < items.size(); ++index) {
    position = AlignUp(position, kResourceDataAlignment);
    std::uint8_t* data_entry = &directory[data_entries_offset + kDataEntrySize * index];
    WriteUint32(data_entry, static_cast<std::uint32_t>(section_rva + position));
    WriteUint32(data_entry + 4, static_cast<std::uint32_t>(items[index].content.size));
    WriteUint32(data_entry + 8, items[index].code_page);
    layout.placed.push_back({position, nullptr});
    position += items[index].content.size;
  }
  layout.items = std::move(items);
  for (std::size_t index = 0; index < layout.items.size(); ++index) layout.placed[index].item = &layout.items[index];
  layout.directory = std::move(directory);
  layout.size = position;
  return true;
}
