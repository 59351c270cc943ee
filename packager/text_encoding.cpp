#include "text_encoding.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

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

bool IsShownAsItIs(char16_t unit) {
  if (unit <= u' ' || unit == u'\\' || (unit >= 0x7F && unit <= 0xA0) || unit == 0xAD) return false;
  if (unit >= 0x2000 && unit <= 0x200F) return false;  // wide spaces, zero-width and direction marks
  if (unit >= 0x2028 && unit <= 0x202F) return false;  // separators and direction embeddings
  if (unit >= 0x205F && unit <= 0x206F) return false;  // invisible operators and direction isolates
  return unit != 0x3000 && unit != 0xFEFF && !(unit >= 0xFFF9 && unit <= 0xFFFB);
}

void AppendEscape(std::string& text, char16_t unit) { text += "\\u" + FourHexDigits(unit); }

std::string Escaped(std::u16string_view text, bool spaces_shown) {
  std::string result;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char16_t unit = text[index];
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    if (high && index + 1 < text.size() && text[index + 1] >= 0xDC00 && text[index + 1] < 0xE000) {
      result += Utf8FromUtf16(text.substr(index, 2));
      ++index;
    } else if ((unit >= 0xD800 && unit < 0xE000) || !(IsShownAsItIs(unit) || (spaces_shown && unit == u' '))) {
      AppendEscape(result, unit);
    } else {
      AppendUtf8(result, unit);
    }
  }
  return result;
}

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

}  // namespace

std::string FourHexDigits(std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

std::string EscapedUtf8FromUtf16(std::u16string_view text) { return Escaped(text, false); }

std::string EscapedTextFromUtf16(std::u16string_view text) { return Escaped(text, true); }

std::string Utf8FromUtf16(std::u16string_view text) { return Utf8From(text, kReplacementCharacter); }

std::string Wtf8FromUtf16(std::u16string_view text) { return Utf8From(text, 0); }

namespace {

// UTF-16 of UTF-8 `text`; surrogates encoded in it are kept only when `surrogates_kept`.
std::u16string Utf16From(std::string_view text, bool surrogates_kept) {
  std::u16string result;
  std::size_t index = 0;
  while (index < text.size()) {
    const auto lead = static_cast<unsigned char>(text[index]);
    const int length = lead < 0x80             ? 1
                       : (lead & 0xE0) == 0xC0 ? 2
                       : (lead & 0xF0) == 0xE0 ? 3
                       : (lead & 0xF8) == 0xF0 ? 4
                                               : 0;
    char32_t code_point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && index + length <= text.size();
    for (int extra = 1; valid && extra < length; ++extra) {
      const auto unit = static_cast<unsigned char>(text[index + extra]);
      valid = (unit & 0xC0) == 0x80;
      code_point = code_point << 6 | (unit & 0x3F);
    }
    // Overlong forms and surrogates encoded in UTF-8 are not text either.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && code_point >= kSmallest[length] && code_point < 0x110000 &&
            (surrogates_kept || code_point < 0xD800 || code_point >= 0xE000);
    if (!valid) {
      result += static_cast<char16_t>(kReplacementCharacter);
      ++index;
      continue;
    }
    if (code_point >= 0x10000) {
      result += static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10));
      result += static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    } else {
      result += static_cast<char16_t>(code_point);
    }
    index += length;
  }
  return result;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view text) { return Utf16From(text, false); }

std::u16string Utf16FromWtf8(std::string_view text) { return Utf16From(text, true); }
