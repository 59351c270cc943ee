// The version block (VS_VERSIONINFO) Windows shows in a file's Properties and that update systems
// and scanners read: the fixed part with the file and product version numbers, one string table of
// named texts, and the translation. Read from an image the tool may not trust, so every length is
// checked against the bytes; written back as the resource compiler writes it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct VersionBlock {
  std::array<std::uint16_t, 4> file_version{};
  std::array<std::uint16_t, 4> product_version{};
  std::uint32_t file_flags_mask = 0x3F;
  std::uint32_t file_flags = 0;
  std::uint32_t file_os = 0x40004;  // VOS_NT_WINDOWS32
  std::uint32_t file_type = 1;      // VFT_APP
  std::uint32_t file_subtype = 0;
  std::u16string string_table = u"040904B0";                       // the language and code page, as hexadecimal text
  std::vector<std::pair<std::u16string, std::u16string>> strings;  // in the order written
  std::uint16_t language = 0x0409;                                 // the translation
  std::uint16_t code_page = 1200;

  // The text of `key`, or null when the table has none.
  const std::u16string* Find(std::u16string_view key) const;
  // Replaces the text of `key`, or adds it at the end.
  void Set(std::u16string_view key, std::u16string value);

  friend bool operator==(const VersionBlock&, const VersionBlock&) = default;
};

// The texts a vendor may give, and the longest each may be.
inline constexpr std::size_t kLongestVersionText = 256;

// Reads a version block; false with a one-line reason when the bytes are not one.
[[nodiscard]] bool ReadVersionBlock(const std::vector<std::uint8_t>& bytes, VersionBlock& block, std::string& error);
// Refuses a block that would pass the 65,535 bytes its 16-bit lengths can state.
[[nodiscard]] bool VersionBlockBytes(const VersionBlock& block, std::vector<std::uint8_t>& bytes, std::string& error);

// "1", "1.2", "1.2.3" or "1.2.3.4", each part 0 to 65535 in decimal digits; missing parts are 0.
std::optional<std::array<std::uint16_t, 4>> ParseVersionNumbers(std::string_view text);
std::string VersionNumbersText(const std::array<std::uint16_t, 4>& numbers);  // always four parts
// Why `text` cannot be stored as a version text, or nullopt: invalid UTF-8, control characters,
// or more than kLongestVersionText UTF-16 units.
std::optional<std::string> CheckVersionText(std::string_view option, std::string_view text);
