// A vendor's own icon and version block in place of the installer's: the stub's icon group and its
// images are replaced by the vendor's .ico file, and its version block is rebuilt with the texts and
// numbers given. The manifest and every other resource stay as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/resource_tree.h"
#include "pack/pack_options.h"

// The largest .ico file taken: a full set of sizes up to 256 pixels is well under 1 MiB.
inline constexpr std::uint64_t kLargestIconFile = 16 << 20;

// What packing refuses in the vendor options, as a one-line reason; nullopt when all can be stored.
std::optional<std::string> CheckVendorOptions(const PackOptions& options);

// Edits the stub's resources `items`: the icon from `icon_file` when given, the version block with
// the options' texts, and OriginalFilename set to `output_name` unless given. False with a reason.
[[nodiscard]] bool ApplyVendorResources(const PackOptions& options, const std::vector<std::uint8_t>* icon_file,
                                        const std::string& output_name, std::vector<ResourceItem>& items,
                                        std::string& error);
