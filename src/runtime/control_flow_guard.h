// The two pointers through which code built with Control Flow Guard (clang -mguard=cf) makes its
// indirect calls. They start at the stubs below; a Windows loader that enforces the guard replaces
// them with its own checks before the image runs, so they live in read-only data as the loader
// expects.
#pragma once

extern "C" {

// The compiler's names (reserved identifiers); both are constant-initialised.
// NOLINTBEGIN(bugprone-reserved-identifier,bugprone-dynamic-static-initializers)

// Called with the target in rcx before an indirect call; returns when the target may be called.
extern void (*const __guard_check_icall_fptr)();
// Called in place of an indirect call, with the target in rax and the call's own arguments in
// place; transfers to the target when it may be called.
extern void (*const __guard_dispatch_icall_fptr)();

// NOLINTEND(bugprone-reserved-identifier,bugprone-dynamic-static-initializers)

// The defaults: every target is allowed, which is what an image without the guard does.
void GuardCheckAllowAll();
void GuardDispatchAllowAll();

}  // extern "C"
