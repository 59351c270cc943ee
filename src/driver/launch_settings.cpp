#include "driver/launch_settings.h"

#include <shellapi.h>

#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

namespace {

constexpr wchar_t kSoftwareKey[] = L"Software\\Zarvelo";

// A version text counts only when it is whole UTF-16 units ending in a zero unit, so nothing past
// the resource is ever read as part of it.
const wchar_t* FindPreviousVersion(HMODULE module) noexcept {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_RCDATA);
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr) return nullptr;
  const DWORD size = SizeofResource(module, resource);
  if (size == 0 || size % 2 != 0) return nullptr;
  const auto* text = static_cast<const wchar_t*>(LockResource(loaded));
  if (text == nullptr || text[size / 2 - 1] != 0) return nullptr;
  return text;
}

}  // namespace

void LaunchSettings::Clear() noexcept {
  if (arguments != nullptr) {
    LocalFree(arguments);
    arguments = nullptr;
  }
  command_line = nullptr;
  argument_count = 0;
  system_level = false;
  has_rejected_switch = false;
  cleanup_enabled = true;
  previous_version = nullptr;
}

bool LaunchSettings::Initialize(HMODULE module) noexcept {
  Clear();
  previous_version = FindPreviousVersion(module);

  BoundedWideString<2> cleanup_value;
  cleanup_value.units[1] = 0;
  if (ReadRegistryString(HKEY_CURRENT_USER, kSoftwareKey, L"DrelixInstallerCleanup", cleanup_value.units, 2) &&
      cleanup_value.units[0] == L'0') {
    cleanup_enabled = false;
  }

  return ParseCommandLine(GetCommandLineW());
}

bool LaunchSettings::ParseCommandLine(const wchar_t* process_command_line) noexcept {
  command_line = process_command_line;
  // Not every CommandLineToArgvW survives a null line (Wine's reads through it), so refuse it here.
  if (process_command_line == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int count = 0;
  arguments = CommandLineToArgvW(process_command_line, &count);
  if (arguments == nullptr) return false;
  argument_count = count;

  // Index 0 is the program name and is never a switch. Whole arguments only: "--cleanup=1" is not
  // "--cleanup". Every argument still reaches the setup program.
  for (int32_t index = 1; index < argument_count; ++index) {
    const wchar_t* argument = arguments[index];
    if (lstrcmpiW(argument, L"--system-level") == 0) {
      system_level = true;
    } else if (lstrcmpiW(argument, L"--cleanup") == 0 || lstrcmpiW(argument, L"--drelix-frame") == 0) {
      has_rejected_switch = true;
    }
  }

  // The updater marks a machine-wide install with exactly "1"; a longer value makes the call report
  // the size it would need, which is not 1.
  if (!system_level) {
    BoundedWideString<2> machine_flag;
    system_level = GetEnvironmentVariableW(L"HalvexUpdateIsMachine", machine_flag.units, 2) == 1 &&
                   machine_flag.units[0] == L'1';
  }
  return true;
}

bool ReadRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* value_name, wchar_t* buffer,
                        uint64_t capacity) noexcept {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;

  DWORD type = 0;
  DWORD byte_count = static_cast<DWORD>(capacity * 2);
  if (RegQueryValueExW(key.Get(), value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &byte_count) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  if (byte_count < 2) {
    buffer[0] = 0;
    return true;
  }
  const uint64_t unit_count = byte_count / 2;  // an odd last byte is dropped
  if (buffer[unit_count - 1] == 0) return true;
  if (unit_count >= capacity) return false;
  buffer[unit_count] = 0;
  return true;
}
