#include "image/version_block.h"

#include <algorithm>
#include <charconv>

#include "encoding/escaped_text.h"
#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"

namespace {

// Every node of the block: wLength, wValueLength, wType, a zero-terminated UTF-16 key, its value
// and its children, each of the last three starting on a 32-bit boundary.
constexpr std::size_t kNodeHeaderSize = 6;
constexpr std::uint16_t kBinaryNode = 0;
constexpr std::uint16_t kTextNode = 1;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedInfoStructureVersion = 0x00010000;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::size_t kLargestNode = 0xFFFF;

constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
constexpr std::u16string_view kStringFileInfoKey = u"StringFileInfo";
constexpr std::u16string_view kVarFileInfoKey = u"VarFileInfo";
constexpr std::u16string_view kTranslationKey = u"Translation";

std::size_t AlignUp4(std::size_t value) { return (value + 3) & ~std::size_t{3}; }

struct Node {
  std::size_t end = 0;  // one past its last byte
  std::uint16_t value_length = 0;
  std::uint16_t type = 0;
  std::u16string key;
  std::size_t value = 0;     // where the value starts
  std::size_t children = 0;  // where the first child would start
};

class BlockReader {
 public:
  BlockReader(const std::vector<std::uint8_t>& bytes, std::string& error) : bytes_(bytes), error_(error) {}

  // The node at `offset`, which must end by `limit`.
  bool Read(std::size_t offset, std::size_t limit, Node& node) {
    if (offset + kNodeHeaderSize > limit) return Fail("a node of the version block is cut short");
    const std::size_t length = ReadUint16(&bytes_[offset]);
    if (length < kNodeHeaderSize || offset + length > limit) return Fail("a node's length reaches outside its parent");
    node.end = offset + length;
    node.value_length = ReadUint16(&bytes_[offset + 2]);
    node.type = ReadUint16(&bytes_[offset + 4]);
    std::size_t position = offset + kNodeHeaderSize;
    if (!ReadText(position, node.end, node.key)) return Fail("a key of the version block has no end");
    node.value = AlignUp4(position);
    const std::size_t value_bytes = node.type == kTextNode ? 2 * std::size_t{node.value_length} : node.value_length;
    node.children = std::min(node.end, AlignUp4(node.value + value_bytes));
    return true;
  }

  // Calls `visit` with each child of `parent`; stops at the first failure.
  template <typename Visit>
  bool Children(const Node& parent, Visit visit) {
    for (std::size_t position = parent.children; position + kNodeHeaderSize <= parent.end;) {
      Node child;
      if (!Read(position, parent.end, child) || !visit(child)) return false;
      position = AlignUp4(child.end);
    }
    return true;
  }

  // Zero-terminated UTF-16 from `position`, which is left past the terminator.
  bool ReadText(std::size_t& position, std::size_t end, std::u16string& text) {
    text.clear();
    for (; position + 2 <= end; position += 2) {
      const char16_t unit = static_cast<char16_t>(ReadUint16(&bytes_[position]));
      if (unit == 0) {
        position += 2;
        return true;
      }
      text += unit;
    }
    return false;
  }

  bool Fail(const char* reason) {
    error_ = reason;
    return false;
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::string& error_;
};

void AppendText(std::vector<std::uint8_t>& bytes, std::u16string_view text) {
  for (char16_t unit : text) AppendUint16(bytes, unit);
  AppendUint16(bytes, 0);
}

void PadTo4(std::vector<std::uint8_t>& bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back(0);
}

// One node with its value and its children, each already built.
std::vector<std::uint8_t> NodeBytes(std::u16string_view key, std::uint16_t type, std::uint16_t value_length,
                                    const std::vector<std::uint8_t>& value,
                                    const std::vector<std::vector<std::uint8_t>>& children) {
  std::vector<std::uint8_t> bytes(kNodeHeaderSize);
  AppendText(bytes, key);
  PadTo4(bytes);
  bytes.insert(bytes.end(), value.begin(), value.end());
  for (const std::vector<std::uint8_t>& child : children) {
    PadTo4(bytes);
    bytes.insert(bytes.end(), child.begin(), child.end());
  }
  WriteUint16(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
  WriteUint16(&bytes[2], value_length);
  WriteUint16(&bytes[4], type);
  return bytes;
}

std::uint32_t High(const std::array<std::uint16_t, 4>& numbers) { return std::uint32_t{numbers[0]} << 16 | numbers[1]; }
std::uint32_t Low(const std::array<std::uint16_t, 4>& numbers) { return std::uint32_t{numbers[2]} << 16 | numbers[3]; }

// Keys compare as the version API compares them: without regard to the case of A-Z.
bool SameKey(std::u16string_view left, std::u16string_view right) {
  const auto folded = [](char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit; };
  return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                    [&](char16_t a, char16_t b) { return folded(a) == folded(b); });
}

std::array<std::uint16_t, 4> Split(std::uint32_t high, std::uint32_t low) {
  return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
          static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

}  // namespace

std::u16string VersionTranslation::TableKey() const {
  const std::string text = FourHexDigits(language) + FourHexDigits(code_page);
  return std::u16string(text.begin(), text.end());
}

const VersionStringTable* VersionBlock::TableRead() const {
  if (string_tables.empty()) return nullptr;
  if (translations.empty()) return &string_tables.front();
  const std::u16string named = translations.front().TableKey();
  const auto found = std::find_if(string_tables.begin(), string_tables.end(),
                                  [&](const VersionStringTable& table) { return SameKey(table.key, named); });
  return found == string_tables.end() ? nullptr : &*found;
}

const std::u16string* VersionBlock::Find(std::u16string_view key) const {
  const VersionStringTable* table = TableRead();
  if (table == nullptr) return nullptr;
  for (const auto& [name, value] : table->strings) {
    if (SameKey(name, key)) return &value;
  }
  return nullptr;
}

void VersionBlock::Set(std::u16string_view key, const std::u16string& value) {
  for (VersionStringTable& table : string_tables) {
    bool set = false;
    std::erase_if(table.strings, [&](std::pair<std::u16string, std::u16string>& text) {
      if (!SameKey(text.first, key)) return false;
      if (set) return true;
      text = {std::u16string(key), value};
      set = true;
      return false;
    });
    if (!set) table.strings.emplace_back(key, value);
  }
}

bool ReadVersionBlock(const std::vector<std::uint8_t>& bytes, VersionBlock& block, std::string& error) {
  block = VersionBlock{};
  BlockReader reader(bytes, error);
  Node root;
  if (!reader.Read(0, bytes.size(), root)) return false;
  if (root.key != kRootKey || root.value_length != kFixedInfoSize || root.value + kFixedInfoSize > root.end ||
      ReadUint32(&bytes[root.value]) != kFixedInfoSignature) {
    error = "the version block does not start with VS_VERSION_INFO and its fixed part";
    return false;
  }
  const std::uint8_t* fixed = &bytes[root.value];
  block.file_version = Split(ReadUint32(fixed + 8), ReadUint32(fixed + 12));
  block.product_version = Split(ReadUint32(fixed + 16), ReadUint32(fixed + 20));
  block.file_flags_mask = ReadUint32(fixed + 24);
  block.file_flags = ReadUint32(fixed + 28);
  block.file_os = ReadUint32(fixed + 32);
  block.file_type = ReadUint32(fixed + 36);
  block.file_subtype = ReadUint32(fixed + 40);

  std::size_t texts = 0;
  bool translation_found = false;
  return reader.Children(root, [&](const Node& section) {
    if (section.key == kStringFileInfoKey) {
      return reader.Children(section, [&](const Node& table_node) {
        VersionStringTable& table = block.string_tables.emplace_back();
        table.key = table_node.key;
        return reader.Children(table_node, [&](const Node& text) {
          if (++texts > kMostVersionTexts) return reader.Fail("the version block holds too many texts");
          std::size_t position = text.value;
          std::u16string value;
          // A value may lack its terminator when it fills its node exactly: what is there is its text.
          static_cast<void>(reader.ReadText(position, text.end, value));
          table.strings.emplace_back(text.key, std::move(value));
          return true;
        });
      });
    }
    if (section.key == kVarFileInfoKey) {
      return reader.Children(section, [&](const Node& variable) {
        if (variable.key != kTranslationKey || translation_found) return true;
        if (variable.value_length < 4 || variable.value + variable.value_length > variable.end) {
          return reader.Fail("the version block's translation is cut short");
        }
        for (std::size_t pair = 0; pair + 4 <= variable.value_length; pair += 4) {
          block.translations.push_back(
              {ReadUint16(&bytes[variable.value + pair]), ReadUint16(&bytes[variable.value + pair + 2])});
        }
        translation_found = true;
        return true;
      });
    }
    return true;
  });
}

bool VersionBlockBytes(const VersionBlock& block, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::vector<std::uint8_t> fixed;
  for (std::uint32_t field :
       {kFixedInfoSignature, kFixedInfoStructureVersion, High(block.file_version), Low(block.file_version),
        High(block.product_version), Low(block.product_version), block.file_flags_mask, block.file_flags, block.file_os,
        block.file_type, block.file_subtype, 0u, 0u}) {
    AppendUint32(fixed, field);
  }
  std::size_t text_count = 0;
  std::vector<std::vector<std::uint8_t>> sections;
  const std::vector<std::uint8_t> none;
  if (!block.string_tables.empty()) {
    std::vector<std::vector<std::uint8_t>> tables;
    for (const VersionStringTable& table : block.string_tables) {
      std::vector<std::vector<std::uint8_t>> texts;
      for (const auto& [key, value] : table.strings) {
        std::vector<std::uint8_t> text;
        AppendText(text, value);
        texts.push_back(NodeBytes(key, kTextNode, static_cast<std::uint16_t>(value.size() + 1), text, {}));
      }
      text_count += texts.size();
      tables.push_back(NodeBytes(table.key, kTextNode, 0, none, texts));
    }
    sections.push_back(NodeBytes(kStringFileInfoKey, kTextNode, 0, none, tables));
  }
  if (!block.translations.empty()) {
    std::vector<std::uint8_t> translation;
    for (const VersionTranslation& pair : block.translations) {
      AppendUint16(translation, pair.language);
      AppendUint16(translation, pair.code_page);
    }
    sections.push_back(NodeBytes(
        kVarFileInfoKey, kTextNode, 0, none,
        {NodeBytes(kTranslationKey, kBinaryNode, static_cast<std::uint16_t>(translation.size()), translation, {})}));
  }
  bytes = NodeBytes(kRootKey, kBinaryNode, kFixedInfoSize, fixed, sections);
  if (text_count > kMostVersionTexts) {
    error = "the version block would hold " + std::to_string(text_count) + " texts; at most " +
            std::to_string(kMostVersionTexts) + " are read back";
    return false;
  }
  // Every node lies within the root, so the root's length is the one that can overflow first.
  if (bytes.size() > kLargestNode) {
    error = "the version block would be " + std::to_string(bytes.size()) + " bytes; its lengths hold at most " +
            std::to_string(kLargestNode);
    return false;
  }
  return true;
}

std::optional<std::array<std::uint16_t, 4>> ParseVersionNumbers(std::string_view text) {
  std::array<std::uint16_t, 4> numbers{};
  const char* position = text.data();
  const char* end = text.data() + text.size();
  const auto digit_at = [&](const char* at) { return at != end && *at >= '0' && *at <= '9'; };
  if (!digit_at(position)) return std::nullopt;
  for (std::size_t count = 0; count < numbers.size(); ++count) {
    const std::from_chars_result result = std::from_chars(position, end, numbers[count]);
    if (result.ec != std::errc{}) return std::nullopt;
    position = result.ptr;
    // A dot followed by a digit goes on to the next part; anything else ends the numbers.
    if (position == end || *position != '.' || !digit_at(position + 1)) break;
    ++position;
  }
  return numbers;
}

std::string VersionNumbersText(const std::array<std::uint16_t, 4>& numbers) {
  return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) + "." +
         std::to_string(numbers[3]);
}

std::optional<std::string> CheckVersionText(std::string_view option, std::string_view text) {
  const std::string shown = std::string(option) + " " + Quoted(text);
  const std::u16string units = Utf16FromUtf8(text);
  // Malformed UTF-8 here; on Windows also an argument with an unpaired surrogate, which reaches the
  // tool as the surrogate's own three bytes (see main.cpp).
  if (Utf8FromUtf16(units) != text)
    return std::string(option) + " is not valid text (malformed UTF-8 or an unpaired surrogate)";
  if (units.size() > kLongestVersionText) {
    return std::string(option) + " is " + std::to_string(units.size()) + " characters long; the version block holds " +
           std::to_string(kLongestVersionText) + " at most";
  }
  for (char16_t unit : units) {
    if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0)) {
      return std::string(option) + " holds a control character; a version text is one line of visible text";
    }
  }
  if (units.empty()) return shown + " is empty; leave the option out to keep the installer's own text";
  return std::nullopt;
}
