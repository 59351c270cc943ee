// A library planted where a careless installer might load it from: loading it runs its start-up
// code, which leaves "<its own path>.loaded" beside it as proof.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, L".loaded");
  CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return TRUE;
}
