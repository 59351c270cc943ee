// A program linked exactly as an installer is (the same runtime support, code generation and link
// options; only the entry point is its own), so a test can look at the hardening from inside a
// running process:
//   hardening_probe cookie <file>    writes the stack protector's guard as this process sees it
//                                    (8 bytes, little-endian) and exits 0
//   hardening_probe overrun <count>  writes <count> bytes into a 16-byte stack buffer and exits 0
//                                    only if that returns
#include <windows.h>
#include <shellapi.h>

#include "runtime/stack_cookie.h"

namespace {

constexpr UINT kProbeFailed = 1;

// Test-only: writes past its own buffer when count is over 16, as a stack buffer overrun would.
[[gnu::noinline]] void OverrunStackBuffer(unsigned count) {
  volatile char buffer[16];
  for (unsigned index = 0; index < count; ++index) buffer[index] = 'x';
}

UINT WriteCookie(const wchar_t* path) {
  const std::uintptr_t cookie = __stack_chk_guard;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kProbeFailed;
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, &cookie, sizeof cookie, &written, nullptr);
  CloseHandle(file);
  return wrote && written == sizeof cookie ? 0 : kProbeFailed;
}

unsigned ParseCount(const wchar_t* text) {
  unsigned count = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) count = count * 10 + static_cast<unsigned>(*text - L'0');
  return count;
}

UINT Probe() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count != 3) return kProbeFailed;
  UINT result = kProbeFailed;
  if (lstrcmpW(arguments[1], L"cookie") == 0) {
    result = WriteCookie(arguments[2]);
  } else if (lstrcmpW(arguments[1], L"overrun") == 0) {
    OverrunStackBuffer(ParseCount(arguments[2]));
    result = 0;
  }
  LocalFree(arguments);
  return result;
}

}  // namespace

extern "C" [[noreturn]] void ProgramEntry() { ExitProcess(Probe()); }
