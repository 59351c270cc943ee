#include "setup/setup_command_lines.h"

#include "conventions/setup_switches.h"
#include "strings/command_line_text.h"

void AppendPassThroughArguments(CommandLineBuffer& destination, const wchar_t* command_line) noexcept {
  const wchar_t* rest = FindArgumentsAfterProgramName(command_line);
  if (rest == nullptr || *rest == 0) return;
  // Text right after a closing quote is a new argument to Windows' own splitting; a space keeps it one.
  if (*rest != L' ' && *rest != L'\t' && !BoundedAppend(destination, L" ")) return;
  static_cast<void>(BoundedAppend(destination, rest));
}

bool BuildPatchCommandLine(const wchar_t* installed_setup_path, const wchar_t* patch_file_path,
                           const wchar_t* new_setup_path, const wchar_t* command_line,
                           CommandLineBuffer& destination) noexcept {
  // The previous version is never passed: the patch names what it applies to by itself.
  if (!BoundedJoin(destination, L"\"", installed_setup_path, L"\" --", kUpdateSetupSwitch<wchar_t>.Get(), L"=\"",
                   patch_file_path, L"\" --", kNewSetupSwitch<wchar_t>.Get(), L"=\"", new_setup_path, L"\"")) {
    return false;
  }
  AppendPassThroughArguments(destination, command_line);
  return true;
}

bool BuildInstallCommandLine(const wchar_t* setup_path, const wchar_t* archive_path, bool compressed_archive,
                             const wchar_t* previous_version, const wchar_t* command_line,
                             CommandLineBuffer& destination) noexcept {
  if (!BoundedJoin(
          destination, L"\"", setup_path, L"\"", L" --",
          compressed_archive ? kInstallArchiveSwitch<wchar_t>.Get() : kUncompressedArchiveSwitch<wchar_t>.Get(), L"=\"",
          archive_path, L"\"")) {
    return false;
  }
  if (previous_version != nullptr &&
      !(BoundedAppend(destination, L" --") && BoundedAppend(destination, kPreviousVersionSwitch<wchar_t>.Get()) &&
        BoundedAppend(destination, L"=\"") && BoundedAppend(destination, previous_version) &&
        BoundedAppend(destination, L"\""))) {
    return false;
  }
  AppendPassThroughArguments(destination, command_line);
  return true;
}
