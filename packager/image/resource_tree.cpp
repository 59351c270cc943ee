#include "image/resource_tree.h"

#include <algorithm>

#include "encoding/escaped_text.h"
#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"
#include "image/pe_format.h"

namespace {

// Reads the resource directory through its RVA, which keeps every read inside the section.
class ResourceTreeReader {
 public:
  ResourceTreeReader(const PeImage& image, ByteSource& source, std::vector<ResourceItem>& items, std::string& error,
                     bool& limit_passed)
      : image_(image), source_(source), items_(items), error_(error), limit_passed_(limit_passed) {
    base_ = image.directories[kResourceDirectory].virtual_address;
  }

  bool ReadDirectory(std::uint32_t offset, int level, ResourceItem path) {
    std::uint8_t table[kResourceTableSize];
    if (!ReadAt(offset, table, sizeof table)) return false;
    const std::uint32_t count =
        ReadUint16(table + kResourceNamedCountOffset) + ReadUint16(table + kResourceIdCountOffset);
    for (std::uint32_t index = 0; index < count; ++index) {
      if (++visited_ > kMostResourceEntries) {
        return Beyond("the resource directory has more than " + std::to_string(kMostResourceEntries) + " entries");
      }
      std::uint8_t entry[kResourceEntrySize];
      if (!ReadAt(offset + kResourceTableSize + index * kResourceEntrySize, entry, sizeof entry)) return false;
      const std::uint32_t name_field = ReadUint32(entry);
      const std::uint32_t target = ReadUint32(entry + kResourceEntryTargetOffset);
      ResourceKey key;
      if ((name_field & kResourceHighBit) != 0) {
        if (!ReadName(name_field & ~kResourceHighBit, key.name)) return false;
        if (key.name.empty()) return Fail("the resource directory holds an empty name");
      } else {
        key.id = static_cast<std::uint16_t>(name_field);
      }
      const bool is_directory = (target & kResourceHighBit) != 0;
      if (level == 0) path.type = key;
      if (level == 1) path.name = key;
      if (level == 2) {
        if (key.IsName()) return Fail("a resource language is a name, not a number");
        path.language = key.id;
      }
      if (is_directory != (level < 2)) return Fail("the resource directory is not three levels deep");
      if (is_directory) {
        if (!ReadDirectory(target & ~kResourceHighBit, level + 1, path)) return false;
      } else {
        std::uint8_t data_entry[kResourceDataEntrySize];
        if (!ReadAt(target, data_entry, sizeof data_entry)) return false;
        path.content.data_rva = ReadUint32(data_entry);
        path.content.size = ReadUint32(data_entry + kResourceDataSizeOffset);
        path.code_page = ReadUint32(data_entry + kResourceCodePageOffset);
        items_.push_back(path);
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
  std::vector<ResourceItem>& items_;
  std::string& error_;
  bool& limit_passed_;
  std::uint32_t base_ = 0;
  std::size_t visited_ = 0;
};

// One directory table of the tree and the entries it holds, before offsets are known.
struct DirectoryNode {
  std::vector<std::pair<ResourceKey, std::size_t>> children;  // key, then a node index or an item index
  bool leaves = false;                                        // children are items (language level)
  std::uint32_t offset = 0;
};

std::string Describe(const ResourceItem& item) {
  const auto key = [](const ResourceKey& key) {
    return key.IsName() ? EscapedText(key.name, EscapeContext::word) : "#" + std::to_string(key.id);
  };
  return key(item.type) + "/" + key(item.name) + " language " + std::to_string(item.language);
}

// In the order Windows searches them: by type, name and language; false when two are one resource.
bool SortResources(std::vector<ResourceItem>& items, std::string& error) {
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
  return true;
}

// Root, one table per type, one per name; children in sorted order since the items are.
std::vector<DirectoryNode> BuildDirectoryNodes(const std::vector<ResourceItem>& items) {
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
  return nodes;
}

// Where the directory's parts go: tables first, in creation order (root, types, names), then the
// data entries, then each name once; the data follows.
struct DirectoryPlan {
  std::uint64_t data_entries_offset = 0;
  std::vector<std::pair<std::u16string, std::uint32_t>> name_offsets;
  std::uint64_t size = 0;

  std::uint32_t NameOffset(const std::u16string& name) const {
    for (const auto& [known, offset] : name_offsets) {
      if (known == name) return offset;
    }
    return 0;
  }
};

DirectoryPlan PlanDirectory(std::vector<DirectoryNode>& nodes, std::size_t item_count) {
  DirectoryPlan plan;
  std::uint64_t position = 0;
  for (DirectoryNode& node : nodes) {
    node.offset = static_cast<std::uint32_t>(position);
    position += kResourceTableSize + kResourceEntrySize * node.children.size();
  }
  plan.data_entries_offset = position;
  position += kResourceDataEntrySize * item_count;
  for (const DirectoryNode& node : nodes) {
    if (node.leaves) continue;
    for (const auto& entry : node.children) {
      const ResourceKey& key = entry.first;
      if (!key.IsName()) continue;
      if (std::any_of(plan.name_offsets.begin(), plan.name_offsets.end(),
                      [&](const auto& known) { return known.first == key.name; })) {
        continue;
      }
      plan.name_offsets.emplace_back(key.name, static_cast<std::uint32_t>(position));
      position += 2 + 2 * key.name.size();
    }
  }
  plan.size = position;
  return plan;
}

// The tables and the names; the data entries are filled in as the data is placed.
std::vector<std::uint8_t> WriteDirectory(const std::vector<DirectoryNode>& nodes, const DirectoryPlan& plan) {
  std::vector<std::uint8_t> directory(plan.size);
  for (const DirectoryNode& node : nodes) {
    std::uint8_t* table = &directory[node.offset];
    const auto named = std::count_if(node.children.begin(), node.children.end(),
                                     [](const auto& child) { return child.first.IsName(); });
    WriteUint16(table + kResourceNamedCountOffset, static_cast<std::uint16_t>(named));
    WriteUint16(table + kResourceIdCountOffset, static_cast<std::uint16_t>(node.children.size() - named));
    std::uint8_t* entry = table + kResourceTableSize;
    for (const auto& [key, child] : node.children) {
      WriteUint32(entry, key.IsName() ? kResourceHighBit | plan.NameOffset(key.name) : key.id);
      WriteUint32(entry + kResourceEntryTargetOffset,
                  node.leaves ? static_cast<std::uint32_t>(plan.data_entries_offset + kResourceDataEntrySize * child)
                              : kResourceHighBit | nodes[child].offset);
      entry += kResourceEntrySize;
    }
  }
  for (const auto& [name, offset] : plan.name_offsets) {
    WriteUint16(&directory[offset], static_cast<std::uint16_t>(name.size()));
    for (std::size_t unit = 0; unit < name.size(); ++unit) WriteUint16(&directory[offset + 2 + 2 * unit], name[unit]);
  }
  return directory;
}

// Each item's data after the directory, aligned, with its data entry pointing at it.
void PlaceData(std::vector<ResourceItem> items, std::uint32_t section_rva, const DirectoryPlan& plan,
               std::vector<std::uint8_t>& directory, ResourceTreeLayout& layout) {
  std::uint64_t position = plan.size;
  layout.placed.clear();
  for (std::size_t index = 0; index < items.size(); ++index) {
    position = AlignUp(position, kResourceDataAlignment);
    std::uint8_t* data_entry = &directory[plan.data_entries_offset + kResourceDataEntrySize * index];
    WriteUint32(data_entry, static_cast<std::uint32_t>(section_rva + position));
    WriteUint32(data_entry + kResourceDataSizeOffset, static_cast<std::uint32_t>(items[index].content.size));
    WriteUint32(data_entry + kResourceCodePageOffset, items[index].code_page);
    layout.placed.push_back({position, nullptr});
    position += items[index].content.size;
  }
  layout.items = std::move(items);
  for (std::size_t index = 0; index < layout.items.size(); ++index) layout.placed[index].item = &layout.items[index];
  layout.size = position;
}

}  // namespace

bool ReadResourceTree(const PeImage& image, ByteSource& source, std::vector<ResourceItem>& items, std::string& error,
                      bool& limit_passed) {
  items.clear();
  limit_passed = false;
  if (image.directories[kResourceDirectory].virtual_address == 0) return true;
  ResourceTreeReader reader(image, source, items, error, limit_passed);
  return reader.ReadDirectory(0, 0, ResourceItem{});
}

bool ReadResourceTree(const PeImage& image, ByteSource& source, std::vector<ResourceItem>& items, std::string& error) {
  bool limit_passed = false;
  return ReadResourceTree(image, source, items, error, limit_passed);
}

bool LayOutResourceTree(std::vector<ResourceItem> items, std::uint32_t section_rva, ResourceTreeLayout& layout,
                        std::string& error) {
  if (!SortResources(items, error)) return false;
  std::vector<DirectoryNode> nodes = BuildDirectoryNodes(items);
  const DirectoryPlan plan = PlanDirectory(nodes, items.size());
  std::vector<std::uint8_t> directory = WriteDirectory(nodes, plan);
  PlaceData(std::move(items), section_rva, plan, directory, layout);
  layout.directory = std::move(directory);
  return true;
}
