// What a payload resource's type says, read from the type the extraction found it under.
#pragma once

#include <windows.h>

#include "conventions/payload_convention.h"
#include "strings/bounded_wide_string.h"

// The form a setup resource of this type travels in; a type outside the convention reads as plain,
// which extraction never hands out.
[[nodiscard]] inline SetupForm SetupFormOfType(const ResourceTypeBuffer& setup_type) noexcept {
  for (uint64_t index = 0; index < sizeof(kSetupFormOfPayloadType) / sizeof(kSetupFormOfPayloadType[0]); ++index) {
    if (lstrcmpW(setup_type.units, kPayloadTypes<wchar_t>[index]) == 0) return kSetupFormOfPayloadType[index];
  }
  return SetupForm::kPlain;
}

// Only a "B7" archive is a 7z archive; the others are handed over as uncompressed.
[[nodiscard]] inline bool IsCompressedArchive(const ResourceTypeBuffer& archive_type) noexcept {
  return lstrcmpW(archive_type.units, kPatchType<wchar_t>.Get()) == 0;
}
