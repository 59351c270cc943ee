// What one run is told by its surroundings: its command line, whether the install is machine-wide,
// whether a rejected switch is present, whether to delete what it unpacked, and the previous version
// carried in its own resources. Filled once at start and released on every way out.
#pragma once

#include <windows.h>

#include <cstdint>

#include "handles/unique_handle.h"

struct LaunchSettings {
  LaunchSettings() noexcept = default;
  LaunchSettings(const LaunchSettings&) = delete;
  LaunchSettings& operator=(const LaunchSettings&) = delete;
  ~LaunchSettings() { Clear(); }

  void Clear() noexcept;
  // False only when the command line cannot be split; the error is left for GetLastError.
  [[nodiscard]] bool Initialize(HMODULE module) noexcept;
  [[nodiscard]] bool ParseCommandLine(const wchar_t* process_command_line) noexcept;

  UniqueArgumentVector arguments;         // from CommandLineToArgvW
  const wchar_t* command_line = nullptr;  // as GetCommandLineW gives it; lives as long as the process
  int32_t argument_count = 0;
  bool system_level = false;
  bool has_rejected_switch = false;
  bool cleanup_enabled = true;
  const wchar_t* previous_version = nullptr;  // points into the image's own RCDATA resource 1
};

// Reads one REG_SZ value into buffer (capacity in units) and guarantees its terminator on success.
[[nodiscard]] bool ReadRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* value_name, wchar_t* buffer,
                                      uint64_t capacity) noexcept;
