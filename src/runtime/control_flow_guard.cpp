// The Control Flow Guard pointers and their default stubs. The stubs are written in assembly: the
// dispatch stub must leave every argument register and the stack as the caller set them, and jump
// (not call) to the target in rax, so the target returns straight to the caller.
#include "runtime/control_flow_guard.h"

__asm__(
    ".section .text$guard_stubs,\"xr\"\n"
    ".globl GuardCheckAllowAll\n"
    "GuardCheckAllowAll:\n"
    "  ret\n"
    ".globl GuardDispatchAllowAll\n"
    "GuardDispatchAllowAll:\n"
    "  jmp *%rax\n");

extern "C" {

constinit void (*const __guard_check_icall_fptr)() = GuardCheckAllowAll;
constinit void (*const __guard_dispatch_icall_fptr)() = GuardDispatchAllowAll;

}  // extern "C"
