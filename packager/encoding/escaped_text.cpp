#include "encoding/escaped_text.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "encoding/text_encoding.h"

namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

constexpr CodePointRange kInvisibleCharacters[] = {
#include "encoding/invisible_characters.inc"
};

// What the decoders hand over: a code point, or one code unit that is not part of a well-formed
// sequence (a byte of bad UTF-8, a lone surrogate).
struct Piece {
  char32_t value;
  bool ill_formed;
};

void AppendHex(std::string& text, std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
}

void AppendUnitEscape(std::string& text, std::uint32_t unit) {
  text += "\\u";
  AppendHex(text, unit, 4);
}

// \uXXXX, or a surrogate pair of them past the first plane.
void AppendCodePointEscape(std::string& text, char32_t code_point) {
  if (code_point < 0x10000) {
    AppendUnitEscape(text, code_point);
    return;
  }
  AppendUnitEscape(text, 0xD800 + ((code_point - 0x10000) >> 10));
  AppendUnitEscape(text, 0xDC00 + ((code_point - 0x10000) & 0x3FF));
}

void AppendEscaped(std::string& text, Piece piece, bool from_bytes, EscapeContext context) {
  const bool json = context == EscapeContext::json;
  if (piece.ill_formed) {
    if (!from_bytes) {
      AppendUnitEscape(text, piece.value);
    } else if (json) {
      AppendUnitEscape(text, 0xDC00 + piece.value);
    } else {
      text += "\\x";
      AppendHex(text, piece.value, 2);
    }
    return;
  }
  const char32_t code_point = piece.value;
  if (json && (code_point == U'"' || code_point == U'\\')) {
    text += '\\';
    text += static_cast<char>(code_point);
    return;
  }
  const bool word_separator = context == EscapeContext::word && (code_point == U' ' || code_point == U'=');
  if (!IsVisibleCodePoint(code_point) || word_separator || code_point == U'"' || code_point == U'\\') {
    AppendCodePointEscape(text, code_point);
    return;
  }
  AppendUtf8(text, code_point);
}

}  // namespace

bool IsVisibleCodePoint(char32_t code_point) {
  const auto* const after =
      std::upper_bound(std::begin(kInvisibleCharacters), std::end(kInvisibleCharacters), code_point,
                       [](char32_t value, const CodePointRange& range) { return value < range.first; });
  return after == std::begin(kInvisibleCharacters) || std::prev(after)->last < code_point;
}

std::string EscapedText(std::string_view text, EscapeContext context) {
  std::string result;
  std::size_t index = 0;
  while (index < text.size()) {
    std::size_t length = 0;
    const std::optional<char32_t> code_point = DecodeUtf8(text.substr(index), length);
    if (code_point) {
      AppendEscaped(result, {*code_point, false}, true, context);
      index += length;
    } else {
      AppendEscaped(result, {static_cast<unsigned char>(text[index]), true}, true, context);
      ++index;
    }
  }
  return result;
}

std::string EscapedText(std::u16string_view text, EscapeContext context) {
  std::string result;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char32_t unit = text[index];
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    if (high && index + 1 < text.size() && text[index + 1] >= 0xDC00 && text[index + 1] < 0xE000) {
      AppendEscaped(result, {0x10000 + ((unit - 0xD800) << 10) + (text[index + 1] - 0xDC00), false}, false, context);
      ++index;
    } else {
      AppendEscaped(result, {unit, unit >= 0xD800 && unit < 0xE000}, false, context);
    }
  }
  return result;
}

std::string Quoted(std::string_view text) { return "\"" + EscapedText(text, EscapeContext::quoted) + "\""; }

std::string Quoted(std::u16string_view text) { return "\"" + EscapedText(text, EscapeContext::quoted) + "\""; }
