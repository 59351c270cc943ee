// The installer's extraction stage on a module's resources, for the agreement test of drelix-pack
// (tests/packaging/agreement_test.sh): it extracts into the given scratch directory, keeps what it
// wrote, and for a setup program (not a patch) asks Windows to start it, suspended and ended at
// once, since the install run's start is what the installer would do next.
//   fixture_extraction <module> <scratch directory, ending in a backslash>
// Prints "<exit code> <Windows error> <stage>": the stage that failed, "extraction" or "setup-run",
// or "none" with 0 0.
#include <windows.h>

#include <cstdio>

#include "conventions/exit_outcome.h"
#include "conventions/payload_convention.h"
#include "payload/payload_extraction.h"
#include "payload/payload_types.h"

namespace {

// The install run's start, as the installer maps its failure to its codes.
ExitOutcome StartSuspended(const wchar_t* program) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  wchar_t command_line[] = L"setup.exe";
  if (!CreateProcessW(program, command_line, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &process)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {EXIT_SETUP_RUN_FILE_NOT_FOUND, error};
    if (error == ERROR_PATH_NOT_FOUND) return {EXIT_SETUP_RUN_PATH_NOT_FOUND, error};
    return {EXIT_SETUP_RUN_START_FAILED, error};
  }
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return {EXIT_OK, 0};
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
  if (count != 3) return 2;
  const HMODULE module =
      LoadLibraryExW(arguments[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  PathBuffer scratch;
  if (module == nullptr || !CreateDirectoryW(arguments[2], nullptr) || !BoundedCopy(scratch, arguments[2])) return 3;
  ExtractedPayload extracted;
  ExitOutcome outcome = ExtractPayloadResources(module, scratch, extracted);
  const char* stage = outcome.exit_code != 0 ? "extraction" : "none";
  if (outcome.exit_code == 0 && SetupFormOfType(extracted.setup_type) != SetupForm::kPatch) {
    outcome = StartSuspended(extracted.setup_path.units);
    if (outcome.exit_code != 0) stage = "setup-run";
  }
  std::printf("%u %u %s\n", outcome.exit_code, outcome.windows_error, stage);
  FreeLibrary(module);
  return 0;
}
