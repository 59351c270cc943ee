// Conversions between the UTF-16 of resource names and Windows arguments and the UTF-8 the tool
// prints and takes on Linux. Text the tool does not trust is printed through escaped_text.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Unpaired surrogates become U+FFFD, so any resource name can be printed.
std::string Utf8FromUtf16(std::u16string_view text);
// The same, except that an unpaired surrogate becomes its own three-byte form (as in WTF-8), which
// Utf16FromUtf8 takes as invalid: nothing of a Windows argument is lost on the way.
std::string Wtf8FromUtf16(std::u16string_view text);
// Invalid UTF-8 bytes become U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);
// The same, except that a surrogate's three-byte form becomes the surrogate: Wtf8FromUtf16 undone.
std::u16string Utf16FromWtf8(std::string_view text);
// The code point that `text` begins with and its `length` in bytes; nullopt when it does not begin
// with well-formed UTF-8 (a stray or missing continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF).
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& length);
// `code_point` (at most U+10FFFF) as UTF-8, appended to `text`.
void AppendUtf8(std::string& text, char32_t code_point);
// Upper-case hexadecimal, always four digits: "0409".
std::string FourHexDigits(std::uint16_t value);
