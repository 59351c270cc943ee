// How a resource type or name is identified: a 16-bit integer id or a UTF-16 name. Their order is
// the one Windows' binary search of a resource directory expects: names before ids, names in
// ascending order of their UTF-16 units, ids in ascending order.
#pragma once

#include <cstdint>
#include <string>

struct ResourceKey {
  std::u16string name;  // empty for an integer id
  std::uint16_t id = 0;

  static ResourceKey Id(std::uint16_t id) { return ResourceKey{{}, id}; }
  static ResourceKey Name(std::u16string name) { return ResourceKey{std::move(name), 0}; }
  bool IsName() const { return !name.empty(); }

  friend bool operator==(const ResourceKey&, const ResourceKey&) = default;
  friend bool operator<(const ResourceKey& left, const ResourceKey& right) {
    if (left.IsName() != right.IsName()) return left.IsName();
    return left.IsName() ? left.name < right.name : left.id < right.id;
  }
};
