// The process entry of the installer executable. There is no C runtime: nothing runs before this
// function, and the process ends here with the driver's exit code.
#include <windows.h>

#include "driver/installer_driver.h"

extern "C" [[noreturn]] void ProgramEntry() {
  // Before anything can load a library: an installer started from a Downloads folder must never pick
  // up a DLL planted beside it or in the current directory, neither for its own loads nor for those
  // the system libraries make on its behalf.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ExitProcess(RunInstaller(GetModuleHandleW(nullptr)).exit_code);
}
