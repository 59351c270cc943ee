#include "version_block.h"

#include <algorithm>
#include <charconv>

#include "escaped_text.h"
#include "little_endian.h"
#include "text_encoding.h"

namespace {

// Every node of the block: wLength, wValueLength, wType, a zero-terminated UTF-16 key, its value
// and its children, each of the last three starting on a 32-bit boundary.
constexpr std::size_t kNodeHeaderSize = 6;
constexpr std::uint16_t kBinaryNode = 0;
constexpr std::uint16_t kTextNode = 1;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedInfoStructureVersion = 0x00010000;
constexpr std::size_t kFixedInfoSize = 52;
// A table with more texts than this is no version block anyone wrote.
constexpr std::size_t kMostStrings = 256;
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

std::array<std::uint16_t, 4> Split(std::uint32_t high, std::uint32_t low) {
  return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
          static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

}  // namespace

const std::u16string* VersionBlock::Find(std::u16string_view key) const {
  for (const auto& [name, value] : strings) {
    if (name == key) return &value;
  }
  return nullptr;
}

void VersionBlock::Set(std::u16string_view key, std::u16string value) {
  for (auto& [name, text] : strings) {
    if (name == key) {
      text = std::move(value);
      return;
    }
  }
  strings.emplace_back(key, std::move(value));
}

bool ReadVersionBlock(const std::vector<std::uint8_t>& bytes, VersionBlock& block, std::string& error) {
  block = VersionBlock{};
  block.string_table.clear();
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

  bool table_found = false;
  bool translation_found = false;
  const bool read = reader.Children(root, [&](const Node& section) {
    if (section.key == kStringFileInfoKey) {
      // The first string table is the one Windows' own readers fall back on; later ones are rare
      // and not kept.
      return reader.Children(section, [&](const Node& table) {
        if (table_found) return true;
        table_found = true;
        block.string_table = table.key;
        return reader.Children(table, [&](const Node& text) {
          if (block.strings.size() == kMostStrings) return reader.Fail("the version block holds too many texts");
          std::size_t position = text.value;
          std::u16string value;
          // A value may lack its terminator when it fills its node exactly: what is there is its text.
          static_cast<void>(reader.ReadText(position, text.end, value));
          block.strings.emplace_back(text.key, std::move(value));
          return true;
        });
      });
    }
    if (section.key == kVarFileInfoKey) {
      return reader.Children(section, [&](const Node& variable) {
        if (variable.key != kTranslationKey || translation_found) return true;
        if (variable.value_length < 4 || variable.value + 4 > variable.end) {
          return reader.Fail("the version block's translation is cut short");
        }
        block.language = ReadUint16(&bytes[variable.value]);
        block.code_page = ReadUint16(&bytes[variable.value + 2]);
        translation_found = true;
        return true;
      });
    }
    return true;
  });
  // A block without a string table gets the one of the stub's language and code page.
  if (!table_found) block.string_table = u"040904B0";
  return read;
}

bool VersionBlockBytes(const VersionBlock& block, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::vector<std::uint8_t> fixed;
  for (std::uint32_t field :
       {kFixedInfoSignature, kFixedInfoStructureVersion, High(block.file_version), Low(block.file_version),
        High(block.product_version), Low(block.product_version), block.file_flags_mask, block.file_flags, block.file_os,
        block.file_type, block.file_subtype, 0u, 0u}) {
    AppendUint32(fixed, field);
  }
  std::vector<std::vector<std::uint8_t>> texts;
  for (const auto& [key, value] : block.strings) {
    std::vector<std::uint8_t> text;
    AppendText(text, value);
    texts.push_back(NodeBytes(key, kTextNode, static_cast<std::uint16_t>(value.size() + 1), text, {}));
  }
  std::vector<std::uint8_t> translation;
  AppendUint16(translation, block.language);
  AppendUint16(translation, block.code_page);
  const std::vector<std::uint8_t> none;
  bytes = NodeBytes(
      kRootKey, kBinaryNode, kFixedInfoSize, fixed,
      {NodeBytes(kStringFileInfoKey, kTextNode, 0, none, {NodeBytes(block.string_table, kTextNode, 0, none, texts)}),
       NodeBytes(kVarFileInfoKey, kTextNode, 0, none, {NodeBytes(kTranslationKey, kBinaryNode, 4, translation, {})})});
  if (block.strings.size() > kMostStrings) {
    error = "the version block would hold " + std::to_string(block.strings.size()) + " texts; at most " +
            std::to_string(kMostStrings) + " are read back";
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
  std::size_t count = 0;
  const char* position = text.data();
  const char* end = text.data() + text.size();
  while (true) {
    if (count == numbers.size() || position == end || *position < '0' || *position > '9') return std::nullopt;
    const std::from_chars_result result = std::from_chars(position, end, numbers[count]);
    if (result.ec != std::errc{}) return std::nullopt;
    ++count;
    position = result.ptr;
    if (position == end) return numbers;
    if (*position != '.') return std::nullopt;
    ++position;
  }
}

std::string VersionNumbersText(const std::array<std::uint16_t, 4>& numbers) {
  return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) + "." +
         std::to_string(numbers[3]);
}

std::optional<std::string> CheckVersionText(std::string_view option, std::string_view text) {
  const std::string shown = std::string(option) + " " + Quoted(text);
  const std::u16string units = Utf16FromUtf8(text);
  if (Utf8FromUtf16(units) != text) return std::string(option) + " is not valid UTF-8 text";
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
