#include "driver/launch_settings.h"

#include <shellapi.h>

#include "driver/product_registry.h"
#include "handles/unique_handle.h"
#include "strings/bounded_wide_string.h"

namespace {

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

bool IsRejectedSwitch(const wchar_t* argument) noexcept {
  return lstrcmpiW(argument, L"--cleanup") == 0 || lstrcmpiW(argument, L"--drelix-frame") == 0;
}

bool IsBlank(wchar_t unit) noexcept { return unit == L' ' || unit == L'\t'; }

// Splits the command line the way a setup program built with the C runtime does and tells whether
// any argument after the program name is a rejected switch. The runtime's rules differ from
// CommandLineToArgvW's for "" inside quotes: it puts one quote in the argument and stays inside the
// quotes, or, in runtimes before 2008, leaves them; each generation is checked. Arguments are only
// compared, never kept whole.
bool RuntimeSplitHasRejectedSwitch(const wchar_t* command_line, bool doubled_quote_ends_quoting) noexcept {
  // The program name runs to the first blank outside quotes; quotes in it only group.
  const wchar_t* next = command_line;
  bool in_quotes = false;
  while (*next != 0 && (in_quotes || !IsBlank(*next))) {
    if (*next == L'"') in_quotes = !in_quotes;
    ++next;
  }

  for (;;) {
    while (IsBlank(*next)) ++next;
    if (*next == 0) return false;
    // Long enough for "--drelix-frame" and its terminator; a longer argument is counted, not kept.
    BoundedWideString<16> argument;
    uint64_t length = 0;
    const auto keep = [&](wchar_t unit, uint64_t count) {
      for (; count != 0; --count, ++length) {
        if (length < decltype(argument)::capacity) argument.units[length] = unit;
      }
    };
    in_quotes = false;
    for (;;) {
      uint64_t backslashes = 0;
      while (*next == L'\\') {
        ++backslashes;
        ++next;
      }
      if (*next == L'"') {
        // 2n backslashes before a quote are n and the quote counts as one; 2n + 1 are n and a quote.
        keep(L'\\', backslashes / 2);
        if (backslashes % 2 == 1) {
          keep(L'"', 1);
          ++next;
        } else if (in_quotes && next[1] == L'"') {
          keep(L'"', 1);
          next += 2;
          if (doubled_quote_ends_quoting) in_quotes = false;
        } else {
          in_quotes = !in_quotes;
          ++next;
        }
        continue;
      }
      keep(L'\\', backslashes);
      if (*next == 0 || (!in_quotes && IsBlank(*next))) break;
      keep(*next, 1);
      ++next;
    }
    if (length < decltype(argument)::capacity) {
      argument.units[length] = 0;
      if (IsRejectedSwitch(argument.units)) return true;
    }
  }
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
  if (ReadRegistryString(HKEY_CURRENT_USER, kProductKey, L"DrelixInstallerCleanup", cleanup_value.units, 2) &&
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
    } else if (IsRejectedSwitch(argument)) {
      has_rejected_switch = true;
    }
  }
  // The setup program may split the same text differently and find a switch that the split above
  // did not: "a""" --cleanup is one argument to CommandLineToArgvW and two to the C runtime.
  if (RuntimeSplitHasRejectedSwitch(process_command_line, false) ||
      RuntimeSplitHasRejectedSwitch(process_command_line, true)) {
    has_rejected_switch = true;
  }

  // The updater marks a machine-wide install with exactly "1"; a longer value makes the call report
  // the size it would need, which is not 1.
  if (!system_level) {
    BoundedWideString<2> machine_flag;
    system_level =
        GetEnvironmentVariableW(L"HalvexUpdateIsMachine", machine_flag.units, 2) == 1 && machine_flag.units[0] == L'1';
  }
  return true;
}

bool ReadRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* value_name, wchar_t* buffer,
                        uint64_t capacity) noexcept {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
  return ReadKeyStringValue(key.Get(), value_name, buffer, capacity) == ERROR_SUCCESS;
}
