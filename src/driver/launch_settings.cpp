#include "driver/launch_settings.h"

#include <shellapi.h>

#include "conventions/payload_convention.h"
#include "conventions/product_names.h"
#include "handles/unique_handle.h"
#include "setup/registry_string.h"
#include "strings/bounded_wide_string.h"
#include "strings/command_line_text.h"

namespace {

// A version text counts only when it is whole UTF-16 units ending in a zero unit, so nothing past
// the resource is ever read as part of it.
const wchar_t* FindPreviousVersion(HMODULE module) noexcept {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kPreviousVersionResourceId), RT_RCDATA);
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr) return nullptr;
  const DWORD size = SizeofResource(module, resource);
  if (size == 0 || size % 2 != 0) return nullptr;
  const auto* text = static_cast<const wchar_t*>(LockResource(loaded));
  if (text == nullptr || text[size / 2 - 1] != 0) return nullptr;
  return text;
}

bool IsRejectedSwitch(const wchar_t* argument) noexcept {
  return lstrcmpiW(argument, L"--cleanup") == 0 || lstrcmpiW(argument, L"--drelix-frame") == 0;
}

// The setup program never sees the installer's whole command line: it gets the text after the
// program name, behind balanced arguments of its own, and splits it with its C runtime, whose rule
// for "" inside quotes is not CommandLineToArgvW's and changed in 2008. A switch that either
// generation finds in that text is refused as well. Arguments are only compared, never kept whole.
bool PassedOnTextHasRejectedSwitch(const wchar_t* command_line) noexcept {
  const wchar_t* passed_on = FindArgumentsAfterProgramName(command_line);
  if (passed_on == nullptr) return false;
  constexpr DoubledQuoteRule kRules[] = {DoubledQuoteRule::kQuotingGoesOn, DoubledQuoteRule::kQuotingEnds};
  for (const DoubledQuoteRule rule : kRules) {
    const wchar_t* next = passed_on;
    // Long enough for "--drelix-frame" and its terminator; a longer argument cannot be a switch.
    BoundedWideString<16> argument;
    bool fits = false;
    while (ReadRuntimeArgument(next, rule, argument.units, decltype(argument)::capacity, fits)) {
      if (fits && IsRejectedSwitch(argument.units)) return true;
    }
  }
  return false;
}

}  // namespace

void LaunchSettings::Clear() noexcept {
  arguments.Reset();
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
  if (ReadRegistryString(HKEY_CURRENT_USER, kProductKey, kCleanupValueName, cleanup_value.units, 2) &&
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
  arguments.Reset(CommandLineToArgvW(process_command_line, &count));
  if (!arguments.IsValid()) return false;
  argument_count = count;

  // Index 0 is the program name and is never a switch. Whole arguments only: "--cleanup=1" is not
  // "--cleanup". Every argument still reaches the setup program.
  for (int32_t index = 1; index < argument_count; ++index) {
    const wchar_t* argument = arguments.Get()[index];
    if (lstrcmpiW(argument, L"--system-level") == 0) {
      system_level = true;
    } else if (IsRejectedSwitch(argument)) {
      has_rejected_switch = true;
    }
  }
  // "a""" --cleanup is one argument to CommandLineToArgvW and two to the setup program's runtime.
  if (PassedOnTextHasRejectedSwitch(process_command_line)) has_rejected_switch = true;

  // The updater marks a machine-wide install with exactly "1"; a longer value makes the call report
  // the size it would need, which is not 1.
  if (!system_level) {
    BoundedWideString<2> machine_flag;
    system_level =
        GetEnvironmentVariableW(kMachineInstallVariable, machine_flag.units, 2) == 1 && machine_flag.units[0] == L'1';
  }
  return true;
}

bool ReadRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* value_name, wchar_t* buffer,
                        uint64_t capacity) noexcept {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
  return ReadKeyStringValue(key.Get(), value_name, buffer, capacity) == ERROR_SUCCESS;
}
