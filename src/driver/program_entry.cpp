// The process entry of the installer executable. There is no C runtime: nothing runs before this
// function, and the process ends here with the driver's exit code.
#include <windows.h>

#include "driver/installer_driver.h"

extern "C" [[noreturn]] void ProgramEntry() {
  ExitProcess(RunInstaller(GetModuleHandleW(nullptr)).exit_code);
}
