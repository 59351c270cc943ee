#include "driver/installer_driver.h"

#include "cleanup/removal.h"
#include "driver/launch_settings.h"
#include "payload/payload_extraction.h"
#include "scratch/scratch_directory.h"
#include "setup/installed_setup.h"
#include "setup/process_launch.h"
#include "setup/setup_command_lines.h"
#include "strings/bounded_wide_string.h"

namespace {

// The executable's directory with its trailing backslash. A path that cannot be had whole, or has no
// directory part, ends the run: going on would report an install that never happened.
ExitOutcome FindExecutableDirectory(HMODULE module, PathBuffer& executable_directory) noexcept {
  const DWORD length = GetModuleFileNameW(module, executable_directory.units, 260);
  const DWORD error = GetLastError();
  if (length == 0 || length >= 260) return {EXIT_PATH_TOO_LONG, error};
  const wchar_t* after = AfterLastBackslash(executable_directory.units, length);
  if (after == executable_directory.units) return {EXIT_PATH_TOO_LONG, 0};
  executable_directory.units[after - executable_directory.units] = 0;
  return {EXIT_OK, 0};
}

// Hands the pages the payload touched back before the long wait for the setup program.
void TrimWorkingSet() noexcept {
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

void CleanUp(const LaunchSettings& settings, const PathBuffer& archive_path, const PathBuffer& setup_path,
             const PathBuffer& scratch_directory) noexcept {
  if (settings.cleanup_enabled) RemoveExtractedFiles(archive_path, setup_path, scratch_directory);
}

// Has the installed setup program rebuild "setup.exe" from the patch file at setup_path. On success
// setup_path names the new program; on failure it is emptied. The patch file is deleted on every
// path, so the clean-up finds an empty scratch directory.
ExitOutcome ApplySetupPatch(const LaunchSettings& settings, PathBuffer& setup_path,
                            const PathBuffer& new_setup_path) noexcept {
  PathBuffer installed_setup_path;
  ExitOutcome patch_outcome =
      FindInstalledSetup(settings.system_level, settings.previous_version, installed_setup_path);
  if (patch_outcome.exit_code == EXIT_OK) {
    CommandLineBuffer patch_command_line;
    if (BuildPatchCommandLine(installed_setup_path.units, setup_path.units, new_setup_path.units,
                              settings.command_line, patch_command_line)) {
      patch_outcome = LaunchAndWait(installed_setup_path.units, patch_command_line.units,
                                    EXIT_PATCH_RUN_FILE_NOT_FOUND, EXIT_PATCH_RUN_PATH_NOT_FOUND,
                                    EXIT_PATCH_RUN_START_FAILED);
    } else {
      patch_outcome = {EXIT_COMMAND_LINE_TOO_LONG, 0};
    }
  }
  RemoveWithRetries(setup_path.units);

  if (patch_outcome.exit_code != EXIT_OK) {
    setup_path.units[0] = 0;
  } else {
    static_cast<void>(BoundedCopy(setup_path, new_setup_path.units));
  }
  return patch_outcome;
}

ExitOutcome RunStages(HMODULE module, const LaunchSettings& settings) noexcept {
  if (settings.has_rejected_switch) return {EXIT_REJECTED_SWITCH, 0};

  PathBuffer executable_directory;
  const ExitOutcome located = FindExecutableDirectory(module, executable_directory);
  if (located.exit_code != EXIT_OK) return located;

  PathBuffer scratch_directory;
  ExitOutcome outcome{EXIT_OK, 0};
  if (!MakeScratchDirectory(executable_directory.units, scratch_directory, outcome)) return outcome;

  PathBuffer archive_path;
  ResourceTypeBuffer archive_type;
  PathBuffer setup_path;
  ResourceTypeBuffer setup_type;
  outcome = ExtractPayloadResources(module, scratch_directory, setup_path, setup_type, archive_path, archive_type);
  if (outcome.exit_code != EXIT_OK) {
    TrimWorkingSet();
    CleanUp(settings, archive_path, setup_path, scratch_directory);
    return outcome;
  }

  const bool compressed_archive = lstrcmpW(archive_type.units, L"B7") == 0;
  if (lstrcmpW(setup_type.units, L"B7") != 0) {
    TrimWorkingSet();
    outcome = InvokeSetup(settings, archive_path, setup_path, compressed_archive);
    CleanUp(settings, archive_path, setup_path, scratch_directory);
    return outcome;
  }

  // A new setup path that does not fit ends the run at once, with what was unpacked left in place.
  PathBuffer new_setup_path;
  if (!BoundedJoin(new_setup_path, scratch_directory.units, L"setup.exe")) return {EXIT_PATH_TOO_LONG, 0};

  const ExitOutcome patch_outcome = ApplySetupPatch(settings, setup_path, new_setup_path);
  TrimWorkingSet();
  outcome = patch_outcome.exit_code == EXIT_OK
                ? InvokeSetup(settings, archive_path, setup_path, compressed_archive)
                : patch_outcome;
  CleanUp(settings, archive_path, setup_path, scratch_directory);
  return outcome;
}

}  // namespace

ExitOutcome RunInstaller(HMODULE module) noexcept {
  LaunchSettings settings;
  ExitOutcome outcome{EXIT_OK, 0};
  if (!settings.Initialize(module)) {
    outcome = {EXIT_SETTINGS_FAILED, GetLastError()};
  } else {
    outcome = RunStages(module, settings);
  }
  settings.Clear();
  return outcome;
}
