// The setup program every contender of the benchmark runs: it only checks that the archive named by
// its "--install-archive" argument is there and not empty, and exits at once. The exit code says
// which, so a contender that ran it too early, or not at all, shows up as a wrong exit code.
#include <windows.h>

namespace {

constexpr UINT kArchiveFound = 42;
constexpr UINT kArchiveMissing = 1;

// The quoted path after "--install-archive=", cut out in place; null when there is none.
wchar_t* FindArchivePath(wchar_t* command_line) {
  constexpr wchar_t kSwitch[] = L"--install-archive=\"";
  for (wchar_t* start = command_line; *start != 0; ++start) {
    int matched = 0;
    while (kSwitch[matched] != 0 && start[matched] == kSwitch[matched]) ++matched;
    if (kSwitch[matched] != 0) continue;
    wchar_t* path = start + matched;
    wchar_t* end = path;
    while (*end != 0 && *end != L'"') ++end;
    if (*end == 0) return nullptr;
    *end = 0;
    return path;
  }
  return nullptr;
}

}  // namespace

extern "C" [[noreturn]] void SetupEntry() {
  const wchar_t* path = FindArchivePath(GetCommandLineW());
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  const bool found = path != nullptr && GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) &&
                     (attributes.nFileSizeLow != 0 || attributes.nFileSizeHigh != 0);
  ExitProcess(found ? kArchiveFound : kArchiveMissing);
}
