#include "encoding/text_encoding.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// UTF-8 of `text`; an unpaired surrogate becomes `replacement`, or itself when that is 0.
std::string Utf8From(std::u16string_view text, char32_t replacement) {
  std::string result;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char32_t unit = text[index];
    if (unit >= 0xD800 && unit < 0xDC00 && index + 1 < text.size() && text[index + 1] >= 0xDC00 &&
        text[index + 1] < 0xE000) {
      AppendUtf8(result, 0x10000 + ((unit - 0xD800) << 10) + (text[index + 1] - 0xDC00));
      ++index;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(result, replacement != 0 ? replacement : unit);
    } else {
      AppendUtf8(result, unit);
    }
  }
  return result;
}

// A surrogate's three-byte form, which DecodeUtf8 refuses: its code unit, or nullopt.
std::optional<char32_t> DecodeEncodedSurrogate(std::string_view text) {
  if (text.size() < 3 || static_cast<unsigned char>(text[0]) != 0xED) return std::nullopt;
  const auto second = static_cast<unsigned char>(text[1]);
  const auto third = static_cast<unsigned char>(text[2]);
  if (second < 0xA0 || second > 0xBF || (third & 0xC0) != 0x80) return std::nullopt;
  return 0xD000 | (second & 0x3F) << 6 | (third & 0x3F);
}

// UTF-16 of UTF-8 `text`; surrogates encoded in it are kept only when `surrogates_kept`.
std::u16string Utf16From(std::string_view text, bool surrogates_kept) {
  std::u16string result;
  std::size_t index = 0;
  while (index < text.size()) {
    std::size_t length = 0;
    std::optional<char32_t> code_point = DecodeUtf8(text.substr(index), length);
    if (!code_point && surrogates_kept) {
      code_point = DecodeEncodedSurrogate(text.substr(index));
      length = 3;
    }
    if (!code_point) {
      result += static_cast<char16_t>(kReplacementCharacter);
      ++index;
    } else if (*code_point >= 0x10000) {
      result += static_cast<char16_t>(0xD800 + ((*code_point - 0x10000) >> 10));
      result += static_cast<char16_t>(0xDC00 + ((*code_point - 0x10000) & 0x3FF));
      index += length;
    } else {
      result += static_cast<char16_t>(*code_point);
      index += length;
    }
  }
  return result;
}

}  // namespace

void AppendUtf8(std::string& text, char32_t code_point) {
  if (code_point < 0x80) {
    text += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    text += static_cast<char>(0xC0 | code_point >> 6);
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    text += static_cast<char>(0xE0 | code_point >> 12);
    text += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | code_point >> 18);
    text += static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
    text += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

std::string FourHexDigits(std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

std::string Utf8FromUtf16(std::u16string_view text) { return Utf8From(text, kReplacementCharacter); }

std::string Wtf8FromUtf16(std::u16string_view text) { return Utf8From(text, 0); }

std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& length) {
  if (text.empty()) return std::nullopt;
  const auto lead = static_cast<unsigned char>(text[0]);
  length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || length > text.size()) return std::nullopt;
  char32_t code_point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
  for (std::size_t extra = 1; extra < length; ++extra) {
    const auto unit = static_cast<unsigned char>(text[extra]);
    if ((unit & 0xC0) != 0x80) return std::nullopt;
    code_point = code_point << 6 | (unit & 0x3F);
  }
  // Overlong forms and surrogates encoded in UTF-8 are not text either.
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < kSmallest[length] || code_point >= 0x110000 || (code_point >= 0xD800 && code_point < 0xE000)) {
    return std::nullopt;
  }
  return code_point;
}

std::u16string Utf16FromUtf8(std::string_view text) { return Utf16From(text, false); }

std::u16string Utf16FromWtf8(std::string_view text) { return Utf16From(text, true); }
