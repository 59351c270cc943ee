// Reading DER, the encoding of the ASN.1 structures a signature is made of, from bytes the tool
// does not trust: every length is checked against what is left, and only the definite lengths DER
// allows are read. The reader names elements; what they mean is the caller's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

inline constexpr std::uint8_t kDerInteger = 0x02;
inline constexpr std::uint8_t kDerOctetString = 0x04;
inline constexpr std::uint8_t kDerObjectIdentifier = 0x06;
inline constexpr std::uint8_t kDerUtf8String = 0x0C;
inline constexpr std::uint8_t kDerPrintableString = 0x13;
inline constexpr std::uint8_t kDerTeletexString = 0x14;
inline constexpr std::uint8_t kDerIa5String = 0x16;
inline constexpr std::uint8_t kDerUtcTime = 0x17;
inline constexpr std::uint8_t kDerGeneralizedTime = 0x18;
inline constexpr std::uint8_t kDerUniversalString = 0x1C;
inline constexpr std::uint8_t kDerBmpString = 0x1E;
inline constexpr std::uint8_t kDerSequence = 0x30;
inline constexpr std::uint8_t kDerSet = 0x31;
// [n], constructed: the explicit or implicit tag of an optional field.
constexpr std::uint8_t DerContextTag(std::uint8_t number) { return static_cast<std::uint8_t>(0xA0 | number); }

struct DerElement {
  std::uint8_t tag = 0;
  std::span<const std::uint8_t> content;  // the value, without tag and length
  std::span<const std::uint8_t> whole;    // tag, length and value
};

// Reads the element at the start of `bytes` and moves `bytes` past it; false, leaving `bytes` as it
// was, when no whole element is there (multi-byte tags are not read: no structure here uses one).
[[nodiscard]] bool ReadDerElement(std::span<const std::uint8_t>& bytes, DerElement& element);
// The same, demanding `tag`.
[[nodiscard]] bool ReadDerElement(std::span<const std::uint8_t>& bytes, std::uint8_t tag, DerElement& element);

// "1.2.840.113549.1.7.2" for an object identifier's content; nullopt when it is not well-formed.
std::optional<std::string> DottedObjectIdentifier(std::span<const std::uint8_t> content);

// A UTCTime or GeneralizedTime of whole or fractional seconds in UTC as "2024-05-01 12:00:00 UTC"
// (fractions left out); nullopt for any other form.
std::optional<std::string> TextFromDerTime(const DerElement& element);
