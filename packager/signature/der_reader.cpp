#include "signature/der_reader.h"

#include <cstdio>

namespace {

std::optional<unsigned> Digits(std::span<const std::uint8_t> text, std::size_t offset, std::size_t count) {
  unsigned value = 0;
  for (std::size_t index = offset; index < offset + count; ++index) {
    if (text[index] < '0' || text[index] > '9') return std::nullopt;
    value = value * 10 + (text[index] - '0');
  }
  return value;
}

}  // namespace

bool ReadDerElement(std::span<const std::uint8_t>& bytes, DerElement& element) {
  if (bytes.size() < 2 || (bytes[0] & 0x1F) == 0x1F) return false;
  std::size_t header = 2;
  std::uint64_t length = bytes[1];
  if ((length & 0x80) != 0) {
    const std::size_t count = length & 0x7F;
    // DER writes the shortest length: at least one byte past 127, no leading zero; four bytes is
    // far beyond any signature.
    if (count == 0 || count > 4 || bytes.size() < 2 + count || bytes[2] == 0) return false;
    length = 0;
    for (std::size_t index = 0; index < count; ++index) length = length << 8 | bytes[2 + index];
    if (length < 0x80) return false;
    header += count;
  }
  if (length > bytes.size() - header) return false;
  element.tag = bytes[0];
  element.content = bytes.subspan(header, static_cast<std::size_t>(length));
  element.whole = bytes.first(header + static_cast<std::size_t>(length));
  bytes = bytes.subspan(element.whole.size());
  return true;
}

bool ReadDerElement(std::span<const std::uint8_t>& bytes, std::uint8_t tag, DerElement& element) {
  std::span<const std::uint8_t> rest = bytes;
  if (!ReadDerElement(rest, element) || element.tag != tag) return false;
  bytes = rest;
  return true;
}

std::optional<std::string> DottedObjectIdentifier(std::span<const std::uint8_t> content) {
  if (content.empty() || (content.back() & 0x80) != 0) return std::nullopt;
  std::string text;
  std::uint64_t value = 0;
  bool first = true;
  for (const std::uint8_t byte : content) {
    if (value == 0 && byte == 0x80) return std::nullopt;  // a padded arc
    if (value > (UINT64_MAX >> 7)) return std::nullopt;
    value = value << 7 | (byte & 0x7F);
    if ((byte & 0x80) != 0) continue;
    if (first) {
      const std::uint64_t top = value < 80 ? value / 40 : 2;
      text = std::to_string(top) + "." + std::to_string(value - 40 * top);
      first = false;
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  return text;
}

std::optional<std::string> TextFromDerTime(const DerElement& element) {
  std::span<const std::uint8_t> text = element.content;
  std::size_t year_digits = 0;
  if (element.tag == kDerUtcTime && text.size() == 13) {
    year_digits = 2;  // YYMMDDhhmmssZ
  } else if (element.tag == kDerGeneralizedTime && text.size() >= 15) {
    year_digits = 4;  // YYYYMMDDhhmmss[.fff]Z
  } else {
    return std::nullopt;
  }
  const std::size_t fixed = year_digits + 10;
  if (text.back() != 'Z') return std::nullopt;
  if (text.size() != fixed + 1) {
    // GeneralizedTime's fraction: a dot and at least one digit.
    if (text[fixed] != '.' || text.size() < fixed + 3 || !Digits(text, fixed + 1, text.size() - fixed - 2))
      return std::nullopt;
  }
  std::optional<unsigned> year = Digits(text, 0, year_digits);
  const std::optional<unsigned> month = Digits(text, year_digits, 2);
  const std::optional<unsigned> day = Digits(text, year_digits + 2, 2);
  const std::optional<unsigned> hour = Digits(text, year_digits + 4, 2);
  const std::optional<unsigned> minute = Digits(text, year_digits + 6, 2);
  const std::optional<unsigned> second = Digits(text, year_digits + 8, 2);
  if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 || *day < 1 || *day > 31 ||
      *hour > 23 || *minute > 59 || *second > 60)
    return std::nullopt;
  // UTCTime's two digits mean 1950 to 2049.
  if (year_digits == 2) *year += *year < 50 ? 2000 : 1900;
  char formatted[32];
  std::snprintf(formatted, sizeof formatted, "%04u-%02u-%02u %02u:%02u:%02u UTC", *year, *month, *day, *hour, *minute,
                *second);
  return std::string(formatted);
}
