// The one way drelix-pack prints text it does not trust: paths and options from the command line,
// names, version keys and texts from an installer. Every code point that is not visible or changes
// the direction of the text around it (the table in invisible_characters.inc, made from Unicode's
// own data), every code unit that is not well-formed UTF-8 or UTF-16, the backslash and the quote
// become escapes, so no such text can move the cursor, colour the terminal, hide or reorder what
// follows, or forge a line or a field of a report. What is left is shown as UTF-8.
//
// In the report (word and quoted contexts) a code point becomes \uXXXX, one escape per UTF-16 unit
// (U+E0041 is \uDB40\uDC41), and a byte that is not UTF-8 becomes \xHH; a reader decodes the two
// escapes and gets the text back unit for unit or byte for byte. In JSON the escapes are RFC 8259's,
// with a byte that is not UTF-8 as the lone surrogate \uDCHH (the surrogateescape convention).
#pragma once

#include <string>
#include <string_view>

enum class EscapeContext {
  // A field inside a line of space-separated fields, or the key of key="value": the space, '=' and
  // '"' are escaped as well, so a name cannot split into fields.
  word,
  // Between quotes or at the end of a line: a plain space is shown as it is.
  quoted,
  // The contents of a JSON string.
  json,
};

// `text` as UTF-8 bytes (a path, an option's value, a message built from them).
std::string EscapedText(std::string_view text, EscapeContext context);
// `text` as UTF-16 units (a resource name, a version key or text).
std::string EscapedText(std::u16string_view text, EscapeContext context);
// "text" with its contents escaped: how a message quotes a path or a value.
std::string Quoted(std::string_view text);
std::string Quoted(std::u16string_view text);

// Whether the code point is printed as it is in every context (before quote, backslash and the
// contexts' own additions).
bool IsVisibleCodePoint(char32_t code_point);
