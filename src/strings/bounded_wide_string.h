// Fixed-capacity, zero-terminated UTF-16 strings that live inside their owner, and the few text
// helpers every stage builds its paths and command lines with. Nothing here allocates, touches the
// last-error value or cuts text short silently: a step either completes or reports false.
#pragma once

#include <cstdint>

#include "conventions/buffer_capacities.h"

// Capacity counts the terminator; one more guard unit behind it is zero from construction on and
// never written, so the array always holds a zero even after a platform call that stopped short.
template <uint64_t Capacity>
struct BoundedWideString {
  static constexpr uint64_t capacity = Capacity;  // NOLINT(bugprone-dynamic-static-initializers): compile-time value

  BoundedWideString() noexcept {
    units[0] = 0;
    units[Capacity] = 0;
  }

  wchar_t units[Capacity + 1];
};

using PathBuffer = BoundedWideString<kPathCapacity>;
using CommandLineBuffer = BoundedWideString<kCommandLineCapacity>;
using ResourceTypeBuffer = BoundedWideString<kResourceTypeCapacity>;

[[nodiscard]] uint64_t BoundedLength(const wchar_t* text, uint64_t capacity) noexcept;
[[nodiscard]] bool BoundedCopy(wchar_t* destination, uint64_t capacity, const wchar_t* source) noexcept;
[[nodiscard]] bool BoundedAppend(wchar_t* destination, uint64_t capacity, const wchar_t* source) noexcept;
[[nodiscard]] bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) noexcept;
[[nodiscard]] const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* pattern) noexcept;
[[nodiscard]] const wchar_t* AfterLastBackslash(const wchar_t* text, uint64_t length) noexcept;
[[nodiscard]] bool HexEncode(const void* bytes, uint64_t count, wchar_t* destination,
                             uint64_t destination_capacity) noexcept;
void* FillBytes(void* destination, int value, uint64_t count) noexcept;

template <uint64_t Capacity>
[[nodiscard]] uint64_t BoundedLength(const BoundedWideString<Capacity>& text) noexcept {
  return BoundedLength(text.units, Capacity);
}

template <uint64_t Capacity>
[[nodiscard]] bool BoundedCopy(BoundedWideString<Capacity>& destination, const wchar_t* source) noexcept {
  return BoundedCopy(destination.units, Capacity, source);
}

template <uint64_t Capacity>
[[nodiscard]] bool BoundedAppend(BoundedWideString<Capacity>& destination, const wchar_t* source) noexcept {
  return BoundedAppend(destination.units, Capacity, source);
}

// Joins a copy and appends in one chain that stops at the first piece that does not fit.
template <uint64_t Capacity, typename... Pieces>
[[nodiscard]] bool BoundedJoin(BoundedWideString<Capacity>& destination, const wchar_t* first,
                               Pieces... rest) noexcept {
  if (!BoundedCopy(destination, first)) return false;
  return (BoundedAppend(destination, rest) && ...);
}
