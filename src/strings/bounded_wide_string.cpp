#include "strings/bounded_wide_string.h"

namespace {

// Only A-Z fold: no locale is involved, so the result never depends on the machine.
wchar_t FoldAscii(wchar_t unit) noexcept {
  return (unit >= L'A' && unit <= L'Z') ? static_cast<wchar_t>(unit | 0x20) : unit;
}

}  // namespace

uint64_t BoundedLength(const wchar_t* text, uint64_t capacity) noexcept {
  if (text == nullptr || capacity < 2) return 0;
  for (uint64_t index = 0; index < capacity - 1; ++index) {
    if (text[index] == 0) return index;
  }
  return capacity - 1;
}

// Copies front to back one unit at a time, so a source inside the destination at a later position
// is allowed (stripping a leading quote in place relies on it).
bool BoundedCopy(wchar_t* destination, uint64_t capacity, const wchar_t* source) noexcept {
  if (destination == nullptr || capacity == 0) return false;
  for (uint64_t index = 0; index < capacity; ++index) {
    const wchar_t unit = source[index];
    destination[index] = unit;
    if (unit == 0) return true;
  }
  destination[0] = 0;
  return false;
}

// A failed append leaves a zero at the old end, so the text reads exactly as before the call.
bool BoundedAppend(wchar_t* destination, uint64_t capacity, const wchar_t* source) noexcept {
  const uint64_t length = (destination == nullptr || capacity < 2) ? 0 : BoundedLength(destination, capacity);
  if (destination == nullptr || capacity - length == 0) return false;
  return BoundedCopy(destination + length, capacity - length, source);
}

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) noexcept {
  if (text == nullptr || prefix == nullptr) return false;
  for (uint64_t index = 0; prefix[index] != 0; ++index) {
    if (FoldAscii(text[index]) != FoldAscii(prefix[index])) return false;
  }
  return true;
}

const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* pattern) noexcept {
  if (pattern == nullptr || pattern[0] == 0) return text;
  for (const wchar_t* start = text; *start != 0; ++start) {
    uint64_t index = 0;
    while (pattern[index] != 0 && start[index] != 0 && FoldAscii(start[index]) == FoldAscii(pattern[index])) {
      ++index;
    }
    if (pattern[index] == 0) return start;
  }
  return nullptr;
}

const wchar_t* AfterLastBackslash(const wchar_t* text, uint64_t length) noexcept {
  for (uint64_t index = length; index > 0; --index) {
    if (text[index - 1] == L'\\') return text + index;
  }
  return text;
}

bool HexEncode(const void* bytes, uint64_t count, wchar_t* destination, uint64_t destination_capacity) noexcept {
  if (!(destination_capacity > 2 * count)) return false;
  static constexpr wchar_t digits[] = L"0123456789ABCDEF";
  const auto* byte = static_cast<const unsigned char*>(bytes);
  for (uint64_t index = 0; index < count; ++index) {
    destination[2 * index] = digits[byte[index] >> 4];
    destination[2 * index + 1] = digits[byte[index] & 0x0F];
  }
  destination[2 * count] = 0;
  return true;
}

void* FillBytes(void* destination, int value, uint64_t count) noexcept {
  auto* byte = static_cast<unsigned char*>(destination);
  for (uint64_t index = 0; index < count; ++index) byte[index] = static_cast<unsigned char>(value);
  return destination;
}
