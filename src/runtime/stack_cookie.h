// The stack protector's guard value and its failure path (clang -fstack-protector-strong for MinGW
// targets compares each protected frame's copy with __stack_chk_guard and calls __stack_chk_fail
// on a difference).
#pragma once

#include <cstdint>

extern "C" {

// The compiler's names (reserved identifiers); the guard is constant-initialised.
// NOLINTBEGIN(bugprone-reserved-identifier,bugprone-dynamic-static-initializers)

// Starts at the platform's default cookie; the load configuration names it as the image's security
// cookie, so the loader replaces it with a per-process random value before the entry point runs.
extern std::uintptr_t __stack_chk_guard;

// Ends the process at once through the fail-fast path (no handler, no unwinding, no return): a
// smashed stack must not run another instruction of the function that smashed it.
[[noreturn]] void __stack_chk_fail();

// NOLINTEND(bugprone-reserved-identifier,bugprone-dynamic-static-initializers)

}  // extern "C"
