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

}  // namespace

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string result;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char32_t unit = text[index];
    if (unit >= 0xD800 && unit < 0xDC00 && index + 1 < text.size() && text[index + 1] >= 0xDC00 &&
        text[index + 1] < 0xE000) {
      AppendUtf8(result, 0x10000 + ((unit - 0xD800) << 10) + (text[index + 1] - 0xDC00));
      ++index;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(result, kReplacementCharacter);
    } else {
      AppendUtf8(result, unit);
    }
  }
  return result;
}

std::u16string Utf16FromUtf8(std::string_view text) {
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
            (code_point < 0xD800 || code_point >= 0xE000);
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
