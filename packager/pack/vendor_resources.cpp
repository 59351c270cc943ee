#include "pack/vendor_resources.h"

#include <algorithm>

#include "encoding/escaped_text.h"
#include "encoding/text_encoding.h"
#include "image/icon_file.h"
#include "image/pe_format.h"
#include "image/version_block.h"

namespace {

// The vendor's texts and numbers in one of the stub's version blocks. Readers look only in the
// tables the translation names, so each of those must be there to take the texts.
bool EditVersionBlock(const PackOptions& options, const std::string& output_name, VersionBlock& block,
                      std::string& error) {
  if (block.string_tables.empty()) {
    if (block.translations.empty()) block.translations.emplace_back();
    block.string_tables.push_back({block.translations.front().TableKey(), {}});
  }
  for (const VersionTranslation& translation : block.translations) {
    const std::u16string named = translation.TableKey();
    const bool present = std::any_of(block.string_tables.begin(), block.string_tables.end(),
                                     [&](const VersionStringTable& table) { return table.key == named; });
    if (!present) {
      error = "the stub's version block has no string table " + Utf8FromUtf16(named) +
              " for its translation, where the version API would look for the texts";
      return false;
    }
  }
  // Every table takes the texts, also one no translation names: some readers take the first.
  for (const VendorTextField& text : kVendorTextFields) {
    if (options.*text.value) block.Set(text.key, Utf16FromUtf8(*(options.*text.value)));
  }
  if (!options.original_filename) block.Set(u"OriginalFilename", Utf16FromUtf8(output_name));
  if (options.product_version) block.product_version = *ParseVersionNumbers(*options.product_version);
  if (options.file_version) block.file_version = *ParseVersionNumbers(*options.file_version);
  return true;
}

std::string VersionResourceNamed(std::uint16_t language) {
  return "the stub's version block (language " + std::to_string(language) + ")";
}

// Every version resource of the stub gets the vendor's fields: Windows reads the one of the
// language it prefers, which need not be the first.
bool ApplyVersionBlock(const PackOptions& options, const std::string& output_name, std::vector<ResourceItem>& items,
                       std::string& error) {
  if (FirstOfType(items, kVersionResourceType) == nullptr) {
    items.push_back({ResourceKey::Id(kVersionResourceType), ResourceKey::Id(1), kEnglishUnitedStatesLanguage, 0, {}});
  }
  for (ResourceItem& item : items) {
    if (item.type != ResourceKey::Id(kVersionResourceType)) continue;
    VersionBlock block;
    if (!item.content.bytes.empty() && !ReadVersionBlock(item.content.bytes, block, error)) {
      error.insert(0, VersionResourceNamed(item.language) + " cannot be read: ");
      return false;
    }
    if (!EditVersionBlock(options, output_name, block, error)) {
      error += " (language " + std::to_string(item.language) + ")";
      return false;
    }
    if (!VersionBlockBytes(block, item.content.bytes, error)) return false;
    item.content.size = item.content.bytes.size();
  }
  return true;
}

bool ApplyIcon(const std::vector<std::uint8_t>& icon_file, std::vector<ResourceItem>& items, std::string& error) {
  std::vector<IconImage> images;
  if (!ReadIconFile(icon_file, images, error)) return false;
  // The new group takes the place of the stub's: its name and language, so whatever shows the
  // first group still finds it.
  ResourceKey group_name = ResourceKey::Id(1);
  std::uint16_t language = kEnglishUnitedStatesLanguage;
  if (const ResourceItem* group = FirstOfType(items, kGroupIconResourceType)) {
    group_name = group->name;
    language = group->language;
  }
  std::erase_if(items, [](const ResourceItem& item) {
    return item.type == ResourceKey::Id(kIconResourceType) || item.type == ResourceKey::Id(kGroupIconResourceType);
  });
  constexpr std::uint16_t kFirstIconId = 1;
  ResourceContent group;
  group.bytes = IconGroupBytes(images, kFirstIconId);
  group.size = group.bytes.size();
  for (std::size_t index = 0; index < images.size(); ++index) {
    ResourceContent content;
    content.bytes = std::move(images[index].bytes);
    content.size = content.bytes.size();
    items.push_back({ResourceKey::Id(kIconResourceType),
                     ResourceKey::Id(static_cast<std::uint16_t>(kFirstIconId + index)), language, 0,
                     std::move(content)});
  }
  items.push_back({ResourceKey::Id(kGroupIconResourceType), group_name, language, 0, std::move(group)});
  return true;
}

}  // namespace

std::optional<std::string> CheckVendorOptions(const PackOptions& options) {
  for (const VendorTextField& text : kVendorTextFields) {
    if (!(options.*text.value)) continue;
    if (std::optional<std::string> refusal = CheckVersionText("--" + std::string(text.option), *(options.*text.value)))
      return refusal;
  }
  for (const auto& [option, value] :
       {std::pair{"--product-version", &options.product_version}, std::pair{"--file-version", &options.file_version}}) {
    if (*value && !ParseVersionNumbers(**value)) {
      return std::string(option) + " " + Quoted(**value) +
             " must begin with a version number: one to four numbers from 0 to 65535 separated by dots, "
             "such as 1.2.3.4 or 2.3.1-beta";
    }
  }
  return std::nullopt;
}

bool ApplyVendorResources(const PackOptions& options, const std::vector<std::uint8_t>* icon_file,
                          const std::string& output_name, std::vector<ResourceItem>& items, std::string& error) {
  if (icon_file != nullptr && !ApplyIcon(*icon_file, items, error)) {
    error = "--icon " + Quoted(*options.icon) + " " + error;
    return false;
  }
  return ApplyVersionBlock(options, output_name, items, error);
}
