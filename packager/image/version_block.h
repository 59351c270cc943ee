// The version block (VS_VERSIONINFO) Windows shows in a file's Properties and that update systems
// and scanners read: the fixed part with the file and product version numbers, the string tables
// of named texts (one per language and code page), and the translation, which names the tables a
// reader looks in. Read from an image the tool may not trust, so every length is checked against
// the bytes; written back as the resource compiler writes it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One StringFileInfo table: its key is its language and code page as hexadecimal text.
struct VersionStringTable {
  std::u16string key = u"040904B0";
  std::vector<std::pair<std::u16string, std::u16string>> strings;  // in the order written

  friend bool operator==(const VersionStringTable&, const VersionStringTable&) = default;
};

// One language and code page pair of the Translation value.
struct VersionTranslation {
  std::uint16_t language = 0x0409;
  std::uint16_t code_page = 1200;

  // The key of the string table it names: "040904B0".
  std::u16string TableKey() const;
  friend bool operator==(const VersionTranslation&, const VersionTranslation&) = default;
};

struct VersionBlock {
  std::array<std::uint16_t, 4> file_version{};
  std::array<std::uint16_t, 4> product_version{};
  std::uint32_t file_flags_mask = 0x3F;
  std::uint32_t file_flags = 0;
  std::uint32_t file_os = 0x40004;  // VOS_NT_WINDOWS32
  std::uint32_t file_type = 1;      // VFT_APP
  std::uint32_t file_subtype = 0;
  std::vector<VersionStringTable> string_tables;
  std::vector<VersionTranslation> translations;  // empty: the block has no Translation value

  // The table a reader of the version API looks in: the one the first translation names, or
  // without a translation the first table; null when there is none.
  const VersionStringTable* TableRead() const;
  // The text of `key` in that table, compared as the version API compares keys, without regard to
  // case; null when it has none.
  const std::u16string* Find(std::u16string_view key) const;
  // Gives `key` the text `value` in every table: the first key that matches it without regard to
  // case takes its spelling and the text, later ones are dropped; a table without one gets it at
  // the end.
  void Set(std::u16string_view key, const std::u16string& value);

  friend bool operator==(const VersionBlock&, const VersionBlock&) = default;
};

// The text Windows shows as the product's version, the one a vendor's release is known by.
inline constexpr std::u16string_view kProductVersionKey = u"ProductVersion";

// The texts a vendor may give, and the longest each may be.
inline constexpr std::size_t kLongestVersionText = 256;

// More texts than this, all tables together, is no version block anyone wrote.
inline constexpr std::size_t kMostVersionTexts = 256;

// Reads a version block; false with a one-line reason when the bytes are not one.
[[nodiscard]] bool ReadVersionBlock(const std::vector<std::uint8_t>& bytes, VersionBlock& block, std::string& error);
// Refuses a block that would pass the 65,535 bytes its 16-bit lengths can state, or hold more
// texts than are read back.
[[nodiscard]] bool VersionBlockBytes(const VersionBlock& block, std::vector<std::uint8_t>& bytes, std::string& error);

// The version numbers a version text begins with: one to four parts of decimal digits separated by
// dots, each 0 to 65535, missing parts 0; whatever follows them ("-beta", a fifth part) is not
// read. Nullopt when the text does not begin with a digit or a part passes 65535.
std::optional<std::array<std::uint16_t, 4>> ParseVersionNumbers(std::string_view text);
std::string VersionNumbersText(const std::array<std::uint16_t, 4>& numbers);  // always four parts
// Why `text` cannot be stored as a version text, or nullopt: invalid UTF-8, control characters,
// or more than kLongestVersionText UTF-16 units.
std::optional<std::string> CheckVersionText(std::string_view option, std::string_view text);
