// Expands the first file of a Microsoft cabinet into a chosen path through the system's cabinet.dll,
// loaded from the system directory only. The target either ends complete or does not exist.
#pragma once

// True once the cabinet's first file was written completely to target_path; false leaves no target.
// Any path that fits the installer's path buffers works, whatever its characters.
[[nodiscard]] bool ExpandCabinet(const wchar_t* cabinet_path, const wchar_t* target_path) noexcept;
