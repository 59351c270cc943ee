// Conversions between the UTF-16 of resource names and Windows arguments and the UTF-8 the tool
// prints and takes on Linux.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Unpaired surrogates become U+FFFD, so any resource name can be printed.
std::string Utf8FromUtf16(std::u16string_view text);
// The same, except that an unpaired surrogate becomes its own three-byte form (as in WTF-8), which
// Utf16FromUtf8 takes as invalid: nothing of a Windows argument is lost on the way.
std::string Wtf8FromUtf16(std::u16string_view text);
// For printing text from a file the tool does not trust: as UTF-8, except that every unit that is
// not a visible character (controls, spaces, line and paragraph separators, the invisible format
// characters that reorder or hide text, unpaired surrogates) and the backslash itself become \uXXXX,
// so no name can move the cursor, colour the terminal or forge a line or a field of a report.
std::string EscapedUtf8FromUtf16(std::u16string_view text);
// The same for a text printed between quotes, where a plain space is shown as it is.
std::string EscapedTextFromUtf16(std::u16string_view text);
// Upper-case hexadecimal, always four digits: "0409".
std::string FourHexDigits(std::uint16_t value);
// Invalid UTF-8 bytes become U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);
// The same, except that a surrogate's three-byte form becomes the surrogate: Wtf8FromUtf16 undone.
std::u16string Utf16FromWtf8(std::string_view text);
