// The one escaping rule of reports and messages: what each context shows as it is and what it
// escapes, for the characters that forge fields, lines or the look of a text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "encoding/escaped_text.h"
#include "fuzz_targets.h"

namespace {

struct EscapeCase {
  const char* what;
  std::u16string text;
  std::string word;    // in a field of a line
  std::string quoted;  // between quotes
  std::string json;    // in a JSON string
};

const EscapeCase kEscapeCases[] = {
    {"plain ASCII", u"SETUP.EXE", "SETUP.EXE", "SETUP.EXE", "SETUP.EXE"},
    {"space, equals and quote forge fields", u"A\" B=C", "A\\u0022\\u0020B\\u003DC", "A\\u0022 B=C", "A\\\" B=C"},
    {"backslash", u"C:\\x", "C:\\u005Cx", "C:\\u005Cx", "C:\\\\x"},
    {"line break and escape sequence", u"a\n\x1b[2Jb", "a\\u000A\\u001B[2Jb", "a\\u000A\\u001B[2Jb",
     "a\\u000A\\u001B[2Jb"},
    {"DEL and a C1 control", u"\x7f\x85", "\\u007F\\u0085", "\\u007F\\u0085", "\\u007F\\u0085"},
    {"Arabic letter mark (Cf)", u"a\u061Cb", "a\\u061Cb", "a\\u061Cb", "a\\u061Cb"},
    {"right-to-left override (Cf)", u"exe\u202Etxt", "exe\\u202Etxt", "exe\\u202Etxt", "exe\\u202Etxt"},
    {"line and paragraph separators", u"\u2028\u2029", "\\u2028\\u2029", "\\u2028\\u2029", "\\u2028\\u2029"},
    {"byte order mark", u"\uFEFF", "\\uFEFF", "\\uFEFF", "\\uFEFF"},
    {"no-break and ideographic spaces (Zs)", u"\u00A0\u3000", "\\u00A0\\u3000", "\\u00A0\\u3000", "\\u00A0\\u3000"},
    {"Hangul fillers", u"\u115F\u1160\u3164\uFFA0", "\\u115F\\u1160\\u3164\\uFFA0", "\\u115F\\u1160\\u3164\\uFFA0",
     "\\u115F\\u1160\\u3164\\uFFA0"},
    {"tag letter A (U+E0041)", u"a\U000E0041", "a\\uDB40\\uDC41", "a\\uDB40\\uDC41", "a\\uDB40\\uDC41"},
    {"variation selector", u"a\uFE0F", "a\\uFE0F", "a\\uFE0F", "a\\uFE0F"},
    {"private use (Co)", u"\uE000", "\\uE000", "\\uE000", "\\uE000"},
    {"lone surrogates (Cs)", u"\xD800x\xDC00", "\\uD800x\\uDC00", "\\uD800x\\uDC00", "\\uD800x\\uDC00"},
    {"visible letters and pictographs stay", u"Gr\u00FC\u00DFe \u65E5\U0001F600", "Grüße\\u0020日😀", "Grüße 日😀",
     "Grüße 日😀"},
};

TEST(EscapedTextTest, EachContextEscapesWhatCanForgeOrHide) {
  for (const EscapeCase& entry : kEscapeCases) {
    EXPECT_EQ(EscapedText(entry.text, EscapeContext::word), entry.word) << entry.what;
    EXPECT_EQ(EscapedText(entry.text, EscapeContext::quoted), entry.quoted) << entry.what;
    EXPECT_EQ(EscapedText(entry.text, EscapeContext::json), entry.json) << entry.what;
  }
}

// Paths and options come as bytes: what is not UTF-8 is shown byte by byte, and a quoted path can
// hold no line break or quote of its own.
TEST(EscapedTextTest, BytesThatAreNotUtf8AreEscapedOneByOne) {
  const std::string path = "evil\nextraction: would succeed\n\xFF\xC3(\xED\xA0\x80.exe";
  EXPECT_EQ(Quoted(path), "\"evil\\u000Aextraction: would succeed\\u000A\\xFF\\xC3(\\xED\\xA0\\x80.exe\"");
  EXPECT_EQ(EscapedText(path, EscapeContext::json),
            "evil\\u000Aextraction: would succeed\\u000A\\uDCFF\\uDCC3(\\uDCED\\uDCA0\\uDC80.exe");
  EXPECT_EQ(Quoted(std::string_view("a\"b\x1b")), "\"a\\u0022b\\u001B\"");
}

// The table comes from Unicode's data: the categories at their edges, and what is visible beside them.
TEST(EscapedTextTest, InvisibleTableCoversTheCategoriesAndNoMore) {
  for (const char32_t invisible :
       {U'\0', U'\x1F', U'\x7F', U'\x9F', U'\u00AD', U'\u1680', U'\u180E', U'\u200B', U'\u2066', U'\u2069',
        U'\U000E0000', U'\U000E007F', U'\U000E0100', U'\U000F0000', U'\U0010FFFD'}) {
    EXPECT_FALSE(IsVisibleCodePoint(invisible)) << std::hex << static_cast<std::uint32_t>(invisible);
  }
  for (const char32_t visible :
       {U' ', U'~', U'\u00A1', U'\u00FF', U'\u0627', U'\u2010', U'\u3001', U'\uFFFD', U'\U0001F600', U'\U00010000'}) {
    EXPECT_TRUE(IsVisibleCodePoint(visible)) << std::hex << static_cast<std::uint32_t>(visible);
  }
}

// Every output decodes back to its input, for every context (the fuzz target's check).
TEST(EscapedTextTest, EveryCaseRoundTrips) {
  for (const EscapeCase& entry : kEscapeCases) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : entry.text) {
      bytes.push_back(static_cast<std::uint8_t>(unit));
      bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    EscapeBytes(bytes);
  }
}

}  // namespace
