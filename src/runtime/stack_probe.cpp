// The stack probe the compiler calls before a frame larger than a page (MinGW's ___chkstk_ms):
// Windows grows a thread's stack one guard page at a time, so every page between the stack pointer
// and the new frame's end is touched in order, from the top down. Called with the frame size in
// rax; keeps every register and leaves the stack pointer to the caller.
__asm__(
    ".section .text$stack_probe,\"xr\"\n"
    ".globl ___chkstk_ms\n"
    "___chkstk_ms:\n"
    "  push %rcx\n"
    "  push %rax\n"
    "  lea 24(%rsp), %rcx\n"  // the caller's stack pointer, above our return address and two pushes
    "  cmp $0x1000, %rax\n"
    "  jb 2f\n"
    "1:\n"
    "  sub $0x1000, %rcx\n"
    "  orq $0, (%rcx)\n"
    "  sub $0x1000, %rax\n"
    "  cmp $0x1000, %rax\n"
    "  ja 1b\n"
    "2:\n"
    "  sub %rax, %rcx\n"
    "  orq $0, (%rcx)\n"
    "  pop %rax\n"
    "  pop %rcx\n"
    "  ret\n");
