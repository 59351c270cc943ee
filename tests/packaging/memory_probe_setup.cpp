// A setup program that exits at once, after recording how much memory its parent, the installer,
// has used so far: by the time the installer starts setup it has written its whole payload. The
// installer's peak private bytes go to the file named by MEMORY_PROBE_RECORD. (Wine reports the
// current private bytes of another process as 0, but its peak faithfully.)
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>

namespace {

DWORD ParentProcessId() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  DWORD parent = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

}  // namespace

int wmain() {
  wchar_t record_path[MAX_PATH];
  if (GetEnvironmentVariableW(L"MEMORY_PROBE_RECORD", record_path, MAX_PATH) == 0) return 2;
  HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ParentProcessId());
  if (parent == nullptr) return 3;
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  const BOOL measured =
      GetProcessMemoryInfo(parent, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  CloseHandle(parent);
  if (!measured) return 4;
  FILE* record = _wfopen(record_path, L"w");
  if (record == nullptr) return 5;
  std::fprintf(record, "%llu\n", static_cast<unsigned long long>(counters.PeakPagefileUsage));
  std::fclose(record);
  return 0;
}
