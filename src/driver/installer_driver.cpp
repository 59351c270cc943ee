#include "driver/installer_driver.h"

#include "cleanup/removal.h"
#include "driver/launch_settings.h"
#include "handles/unique_handle.h"
#include "payload/payload_extraction.h"
#include "payload/payload_types.h"
#include "scratch/scratch_directory.h"
#include "setup/installed_setup.h"
#include "setup/process_launch.h"
#include "setup/setup_command_lines.h"
#include "strings/bounded_wide_string.h"

namespace {

// The executable's directory with its trailing backslash. A path that cannot be had whole, or has no
// directory part, ends the run: going on would report an install that never happened.
ExitOutcome FindExecutableDirectory(HMODULE module, PathBuffer& executable_directory) noexcept {
  const DWORD length = GetModuleFileNameW(module, executable_directory.units, PathBuffer::capacity);
  const DWORD error = GetLastError();
  if (length == 0 || length >= PathBuffer::capacity) return {EXIT_PATH_TOO_LONG, error};
  const wchar_t* after = AfterLastBackslash(executable_directory.units, length);
  if (after == executable_directory.units) return {EXIT_PATH_TOO_LONG, 0};
  executable_directory.units[after - executable_directory.units] = 0;
  return {EXIT_OK, 0};
}

// Hands the pages the payload touched back before the long wait for the setup program.
void TrimWorkingSet() noexcept {
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

// Has the installed setup program rebuild "setup.exe" at new_setup_path from the patch file at
// setup_path. The patch file is deleted on every path. Afterwards setup_path names the new program,
// which the install run starts after a successful patch run and the clean-up removes after a failed
// one that wrote it anyway. From the patch run's exit on, new_setup_hold keeps the new program as
// the patch run left it.
ExitOutcome ApplySetupPatch(const LaunchSettings& settings, PathBuffer& setup_path, const PathBuffer& new_setup_path,
                            UniqueFileHandle& new_setup_hold) noexcept {
  PathBuffer installed_setup_path;
  ExitOutcome patch_outcome =
      FindInstalledSetup(settings.system_level, settings.previous_version, installed_setup_path);
  if (patch_outcome.exit_code == EXIT_OK) {
    CommandLineBuffer patch_command_line;
    if (BuildPatchCommandLine(installed_setup_path.units, setup_path.units, new_setup_path.units, settings.command_line,
                              patch_command_line)) {
      UniqueFileHandle installed_setup_not_held;
      patch_outcome = LaunchAndWait(installed_setup_path.units, patch_command_line.units, kPatchRunStartFailures,
                                    installed_setup_not_held);
      if (patch_outcome.exit_code == EXIT_OK) {
        patch_outcome = TryToHoldProgramFile(new_setup_path.units, EXIT_SETUP_RUN_START_FAILED, new_setup_hold);
      }
    } else {
      patch_outcome = {EXIT_COMMAND_LINE_TOO_LONG, 0};
    }
  }
  RemoveWithRetries(setup_path.units);
  static_cast<void>(BoundedCopy(setup_path, new_setup_path.units));
  return patch_outcome;
}

// Extraction, the patch step for a patch payload, the trim, the install run and the clean-up, in
// that order; the first failure skips the stages after it up to the trim and the clean-up.
ExitOutcome RunStages(HMODULE module, const LaunchSettings& settings) noexcept {
  if (settings.has_rejected_switch) return {EXIT_REJECTED_SWITCH, 0};

  PathBuffer executable_directory;
  const ExitOutcome located = FindExecutableDirectory(module, executable_directory);
  if (located.exit_code != EXIT_OK) return located;

  PathBuffer scratch_directory;
  UniqueFileHandle directory_guard;
  ExitOutcome outcome = MakeScratchDirectory(executable_directory.units, scratch_directory, directory_guard);
  if (outcome.exit_code != EXIT_OK) return outcome;

  ExtractedPayload payload;
  // Keeps the setup program from being replaced between the moment it is complete and its start.
  UniqueFileHandle setup_hold;
  outcome = ExtractPayloadResources(module, scratch_directory, payload);

  if (outcome.exit_code == EXIT_OK && SetupFormOfType(payload.setup_type) == SetupForm::kPatch) {
    // The one way out without trim and clean-up: a new setup path that does not fit ends the run at
    // once, with what was unpacked left in place.
    PathBuffer new_setup_path;
    if (!BoundedJoin(new_setup_path, scratch_directory.units, kSetupProgramName<wchar_t>.Get()))
      return {EXIT_PATH_TOO_LONG, 0};
    outcome = ApplySetupPatch(settings, payload.setup_path, new_setup_path, setup_hold);
  } else if (outcome.exit_code == EXIT_OK) {
    outcome = TryToHoldProgramFile(payload.setup_path.units, EXIT_SETUP_RUN_START_FAILED, setup_hold);
  }

  TrimWorkingSet();
  if (outcome.exit_code == EXIT_OK) {
    outcome = InvokeSetup(settings.command_line, settings.previous_version, payload.archive_path, payload.setup_path,
                          IsCompressedArchive(payload.archive_type), setup_hold);
  }
  setup_hold.Reset();  // a program that never started is still held, and the hold would block its removal
  if (settings.cleanup_enabled)
    RemoveExtractedFiles(payload.archive_path, payload.setup_path, scratch_directory, directory_guard);
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
