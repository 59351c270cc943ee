// The three payload resource types and what each means. The setup resource's type says how the
// setup program travels; the archive's type says how the setup program is to read the archive.
//   "B7"  setup: a patch the installed setup program rebuilds "setup.exe" from; archive: 7z
//   "BL"  setup: a cabinet whose first file is "setup.exe";          archive: uncompressed
//   "BN"  setup: "setup.exe" itself;                                  archive: uncompressed
// Types compare exactly, case included.
#pragma once

#include <windows.h>

#include "strings/bounded_wide_string.h"

// The order in which extraction searches them.
inline constexpr const wchar_t* kPayloadTypes[] = {L"B7", L"BL", L"BN"};

[[nodiscard]] inline bool IsPatchSetup(const ResourceTypeBuffer& setup_type) noexcept {
  return lstrcmpW(setup_type.units, L"B7") == 0;
}

[[nodiscard]] inline bool IsCabinetSetup(const ResourceTypeBuffer& setup_type) noexcept {
  return lstrcmpW(setup_type.units, L"BL") == 0;
}

[[nodiscard]] inline bool IsPlainSetup(const ResourceTypeBuffer& setup_type) noexcept {
  return lstrcmpW(setup_type.units, L"BN") == 0;
}

[[nodiscard]] inline bool IsCompressedArchive(const ResourceTypeBuffer& archive_type) noexcept {
  return lstrcmpW(archive_type.units, L"B7") == 0;
}
