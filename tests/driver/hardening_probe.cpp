// A program linked exactly as an installer is (the same runtime support, code generation and link
// options; only the entry point is its own), so a test can look at the hardening from inside a
// running process:
//   hardening_probe cookie <file>    writes the stack protector's guard as this process sees it
//                                    (8 bytes, little-endian) and exits 0
//   hardening_probe overrun <count>  writes <count> bytes into a 16-byte stack buffer and exits 0
//                                    only if that returns
//   hardening_probe stack <bytes>    runs the stack probe for a frame of <bytes> over a stack laid
//                                    out as Windows lays one out, and exits 0 only if it committed
//                                    exactly the frame's pages (see ProbeOverGuardPages)
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

// The stack probe of runtime/stack_probe.cpp, which the compiler calls before a large frame.
extern "C" void ___chkstk_ms();  // NOLINT(bugprone-reserved-identifier): the compiler's name

constexpr std::uintptr_t kPageSize = 0x1000;
// Stack this thread's own calls may use below the frame it is in, above the stack it probes.
constexpr std::uintptr_t kRoomForOwnCalls = 0x10000;
constexpr UINT kPageNotCommitted = 2;
constexpr UINT kPageBelowFrameTouched = 3;

// Calls the probe as a function opening a frame of frame_size bytes does, with the stack pointer
// at caller_stack for the call.
void ProbeFrom(std::uintptr_t caller_stack, std::uintptr_t frame_size) {
  __asm__ volatile(
      "mov %%rsp, %%rbx\n"
      "mov %[stack], %%rsp\n"
      "call ___chkstk_ms\n"
      "mov %%rbx, %%rsp\n"
      :
      : [stack] "r"(caller_stack), "a"(frame_size)
      : "rbx", "memory", "cc");
}

bool PageIs(std::uintptr_t page, DWORD state, bool guarded) {
  MEMORY_BASIC_INFORMATION information{};
  return VirtualQuery(reinterpret_cast<void*>(page), &information, sizeof information) == sizeof information &&
         information.State == state && ((information.Protect & PAGE_GUARD) != 0) == guarded;
}

// Wine commits a thread's whole stack, so a probe that skips a page never faults there. This thread
// lays out part of its own stack as Windows keeps it instead: committed down to a page boundary,
// one guard page below it, then reserved pages that fault on any touch. The loader (Windows', and
// Wine's for a thread's stack) commits a touched guard page and makes the page below it the next
// one, so only a probe that touches every page from the top down gets through. The caller's stack
// pointer sits on the page boundary, where the probe's own pushes and its first touch are one page
// apart. Afterwards the frame's pages must be committed and the page below the frame still the
// guard page: touching past the frame's end would take a page the frame does not own.
DWORD WINAPI ProbeOverGuardPages(void* parameter) {
  const std::uintptr_t frame_size = *static_cast<const unsigned*>(parameter);
  volatile char here = 0;
  const std::uintptr_t caller_stack = (reinterpret_cast<std::uintptr_t>(&here) - kRoomForOwnCalls) & ~(kPageSize - 1);
  const std::uintptr_t guard_page = caller_stack - kPageSize;
  const std::uintptr_t frame_end_page = (caller_stack - frame_size) & ~(kPageSize - 1);
  const std::uintptr_t reserved_bottom = frame_end_page - 2 * kPageSize;
  DWORD protection = 0;
  if (!VirtualFree(reinterpret_cast<void*>(reserved_bottom), guard_page - reserved_bottom, MEM_DECOMMIT) ||
      !VirtualProtect(reinterpret_cast<void*>(guard_page), kPageSize, PAGE_READWRITE | PAGE_GUARD, &protection)) {
    return kProbeFailed;
  }
  ProbeFrom(caller_stack, frame_size);
  for (std::uintptr_t page = frame_end_page; page < caller_stack; page += kPageSize) {
    if (!PageIs(page, MEM_COMMIT, false)) return kPageNotCommitted;
  }
  return PageIs(frame_end_page - kPageSize, MEM_COMMIT, true) && PageIs(reserved_bottom, MEM_RESERVE, false)
             ? 0
             : kPageBelowFrameTouched;
}

UINT RunStackProbe(unsigned frame_size) {
  HANDLE thread =
      CreateThread(nullptr, 0x100000, ProbeOverGuardPages, &frame_size, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) return kProbeFailed;
  DWORD exit_code = kProbeFailed;
  if (WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &exit_code)) {
    exit_code = kProbeFailed;
  }
  CloseHandle(thread);
  return exit_code;
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
  } else if (lstrcmpW(arguments[1], L"stack") == 0) {
    result = RunStackProbe(ParseCount(arguments[2]));
  }
  LocalFree(arguments);
  return result;
}

}  // namespace

extern "C" [[noreturn]] void ProgramEntry() { ExitProcess(Probe()); }
