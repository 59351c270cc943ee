// One spelling of a fixed ASCII name for every code unit: the installer reads names as UTF-16
// (wchar_t), the packaging tool as bytes, and both must use the very same text.
#pragma once

#include <cstddef>

template <typename Char, std::size_t Size>
struct AsciiText {
  Char units[Size];

  [[nodiscard]] constexpr const Char* Get() const noexcept { return units; }
  [[nodiscard]] static constexpr std::size_t Length() noexcept { return Size - 1; }
};

// Widens or keeps an ASCII literal at compile time; nothing of it is left for run time.
template <typename Char, std::size_t Size>
consteval AsciiText<Char, Size> SpellAs(const char (&ascii)[Size]) noexcept {
  AsciiText<Char, Size> text{};
  for (std::size_t index = 0; index < Size; ++index) text.units[index] = static_cast<Char>(ascii[index]);
  return text;
}
