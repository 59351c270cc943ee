// The stack protector's guard and its fail-fast failure path.
#include "runtime/stack_cookie.h"

#include "runtime/load_configuration.h"

namespace {

// The fail-fast code for a corrupted stack cookie (FAST_FAIL_STACK_COOKIE_CHECK_FAILURE).
constexpr unsigned kFastFailStackCookieCheckFailure = 2;

}  // namespace

extern "C" {

std::uintptr_t __stack_chk_guard = kDefaultSecurityCookie;

void __stack_chk_fail() {
  // __fastfail: the kernel ends the process with STATUS_STACK_BUFFER_OVERRUN without running any
  // exception handler. Nothing follows it; the trap below stops the processor should it return.
  __asm__ volatile("int $0x29" : : "c"(kFastFailStackCookieCheckFailure) : "memory");
  __builtin_trap();
}

}  // extern "C"
