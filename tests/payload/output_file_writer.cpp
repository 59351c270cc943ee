// Writes part of an output file and waits to be killed, the way a run interrupted in the middle of an
// archive is. Arguments: the file, the name of an event set once the bytes are written, and
// "hold" (leave the file pending) or "complete" (complete it first). Exit code 3 on a failure.
#include <windows.h>

#include <cwchar>

#include "payload/pending_output_file.h"

int wmain(int argument_count, wchar_t** arguments) {
  if (argument_count != 4) return 3;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[2]);
  if (ready == nullptr) return 3;
  PendingOutputFile file;
  if (!file.Open(arguments[1])) return 3;
  char bytes[65536] = {};
  DWORD written = 0;
  if (!WriteFile(file.Handle(), bytes, sizeof(bytes), &written, nullptr)) return 3;
  if (std::wcscmp(arguments[3], L"complete") == 0 && !file.Complete()) return 3;
  SetEvent(ready);
  Sleep(INFINITE);
  return 0;
}
