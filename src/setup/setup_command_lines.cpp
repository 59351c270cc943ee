#include "setup/setup_command_lines.h"

#include "setup/process_launch.h"
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
  if (!BoundedJoin(destination, L"\"", installed_setup_path, L"\" --", L"update-setup-exe", L"=\"", patch_file_path,
                   L"\" --", L"new-setup-exe", L"=\"", new_setup_path, L"\"")) {
    return false;
  }
  AppendPassThroughArguments(destination, command_line);
  return true;
}

ExitOutcome InvokeSetup(const LaunchSettings& settings, const PathBuffer& archive_path, const PathBuffer& setup_path,
                        bool compressed_archive, UniqueFileHandle& setup_hold) noexcept {
  PathBuffer program;
  static_cast<void>(BoundedCopy(program, setup_path.units));

  CommandLineBuffer command_line;
  bool fits =
      BoundedJoin(command_line, L"\"", program.units, L"\"", L" --",
                  compressed_archive ? L"install-archive" : L"uncompressed-archive", L"=\"", archive_path.units, L"\"");
  if (fits && settings.previous_version != nullptr) {
    fits = BoundedAppend(command_line, L" --") && BoundedAppend(command_line, L"previous-version") &&
           BoundedAppend(command_line, L"=\"") && BoundedAppend(command_line, settings.previous_version) &&
           BoundedAppend(command_line, L"\"");
  }
  if (!fits) return {EXIT_COMMAND_LINE_TOO_LONG, 0};
  AppendPassThroughArguments(command_line, settings.command_line);
  return LaunchAndWait(program.units, command_line.units, EXIT_SETUP_RUN_FILE_NOT_FOUND, EXIT_SETUP_RUN_PATH_NOT_FOUND,
                       EXIT_SETUP_RUN_START_FAILED, setup_hold);
}
