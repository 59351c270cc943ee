// Expands the first file of a Microsoft cabinet into a chosen path through the system's cabinet.dll.
// The target either ends complete or does not exist.
#pragma once

#include <windows.h>

#include <fdi.h>

#include <cstdint>

#include "payload/pending_output_file.h"

// The record FDI hands back to every notification of one expansion. expected_size is the first
// file's size as the cabinet states it, checked against what reached the target.
struct ExpansionContext {
  const wchar_t* target_path;
  PendingOutputFile output;
  bool succeeded;
  uint64_t expected_size;
};

// True once the cabinet's first file was written completely to target_path; false leaves no target.
[[nodiscard]] bool ExpandCabinet(const wchar_t* cabinet_path, const wchar_t* target_path) noexcept;

// The callbacks FDI is driven with.
void* DIAMONDAPI FdiAlloc(ULONG byte_count) noexcept;
void DIAMONDAPI FdiFree(void* block) noexcept;
INT_PTR DIAMONDAPI FdiOpen(char* path, int open_flags, int permission_mode) noexcept;
UINT DIAMONDAPI FdiRead(INT_PTR file, void* buffer, UINT byte_count) noexcept;
UINT DIAMONDAPI FdiWrite(INT_PTR file, void* buffer, UINT byte_count) noexcept;
int DIAMONDAPI FdiClose(INT_PTR file) noexcept;
LONG DIAMONDAPI FdiSeek(INT_PTR file, LONG distance, int seek_type) noexcept;
INT_PTR DIAMONDAPI FdiNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION record) noexcept;
