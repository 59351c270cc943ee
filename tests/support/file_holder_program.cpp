// Holds a file open in a process of its own, the way a scanner or indexer does, until told to let
// go. Arguments: the file, the share mode (decimal), the name of an event it sets once the file is
// held, and the name of an event that tells it to close the file and exit. Exit code 0 when it held
// and released the file, 2 when the file could not be opened, 3 on bad arguments.
#include <windows.h>

#include <cwchar>

int wmain(int argument_count, wchar_t** arguments) {
  if (argument_count != 5) return 3;
  const DWORD share = static_cast<DWORD>(std::wcstoul(arguments[2], nullptr, 10));
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[3]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, arguments[4]);
  if (ready == nullptr || release == nullptr) return 3;

  HANDLE file = CreateFileW(arguments[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  SetEvent(ready);
  WaitForSingleObject(release, 120000);
  CloseHandle(file);
  return 0;
}
