// What a payload resource's type says, read from the type the extraction found it under.
#pragma once

#include <windows.h>

#include "conventions/payload_convention.h"
#include "strings/bounded_wide_string.h"

// The record of the type extraction found a resource under; null only for a type outside the
// convention, which extraction never hands out.
[[nodiscard]] inline const PayloadType<wchar_t>* FindPayloadType(const ResourceTypeBuffer& type) noexcept {
  for (const PayloadType<wchar_t>& record : kPayloadTypes<wchar_t>) {
    if (lstrcmpW(type.units, record.name) == 0) return &record;
  }
  return nullptr;
}

[[nodiscard]] inline SetupForm SetupFormOfType(const ResourceTypeBuffer& setup_type) noexcept {
  const PayloadType<wchar_t>* record = FindPayloadType(setup_type);
  return record != nullptr ? record->setup_form : SetupForm::kPlain;
}

[[nodiscard]] inline bool IsCompressedArchive(const ResourceTypeBuffer& archive_type) noexcept {
  const PayloadType<wchar_t>* record = FindPayloadType(archive_type);
  return record != nullptr && record->archive_is_7z;
}
