// The installer's indirect calls go through the Control Flow Guard dispatch pointer, which a Windows
// loader that enforces the guard points at its own check. Wine enforces nothing (its loader leaves
// the pointer as the image has it), so this shows the code generation instead: the pointer is
// swapped in this process for a stub that counts and forwards, and the cabinet expansion, which
// calls the cabinet library's functions through pointers, is run through it.
#include <windows.h>

#include <gtest/gtest.h>

#include "payload/cabinet_expansion.h"
#include "runtime/control_flow_guard.h"
#include "support/test_files.h"

extern "C" {
// Counts each call and jumps to the target in rax, as GuardDispatchAllowAll does.
void CountingGuardDispatch();
volatile long long counted_dispatches = 0;
}

__asm__(
    ".text\n"
    ".globl CountingGuardDispatch\n"
    "CountingGuardDispatch:\n"
    "  lock incq counted_dispatches(%rip)\n"
    "  jmp *%rax\n");

namespace {

// Points the dispatch pointer elsewhere for the length of a scope. It lives in read-only data, as
// the loader expects: the page is made writable for the two writes.
class DispatchPointerSwap {
 public:
  explicit DispatchPointerSwap(void (*replacement)()) : original_(Swap(replacement)) {}
  DispatchPointerSwap(const DispatchPointerSwap&) = delete;
  DispatchPointerSwap& operator=(const DispatchPointerSwap&) = delete;
  ~DispatchPointerSwap() { Swap(original_); }

 private:
  static void (*Swap(void (*value)()))() {
    auto* slot = const_cast<void (*volatile*)()>(&__guard_dispatch_icall_fptr);
    DWORD protection = 0;
    EXPECT_TRUE(VirtualProtect(const_cast<void (**)()>(slot), sizeof *slot, PAGE_READWRITE, &protection));
    void (*previous)() = *slot;
    *slot = value;
    EXPECT_TRUE(VirtualProtect(const_cast<void (**)()>(slot), sizeof *slot, protection, &protection));
    return previous;
  }

  void (*original_)();
};

TEST(ControlFlowGuardTest, IndirectCallsGoThroughTheDispatchPointer) {
  EXPECT_EQ(__guard_dispatch_icall_fptr, &GuardDispatchAllowAll) << "Wine's loader leaves the default in place";
  TemporaryDirectory directory(L"guard");
  const std::wstring cabinet = directory / L"SETUP.EX_";
  ASSERT_TRUE(WriteFileBytes(cabinet, PayloadFixture(L"setup_exe.cab")));
  counted_dispatches = 0;
  bool expanded = false;
  {
    const DispatchPointerSwap swap(CountingGuardDispatch);
    expanded = ExpandCabinet(cabinet.c_str(), (directory / L"setup.exe").c_str());
  }
  EXPECT_TRUE(expanded);
  EXPECT_EQ(ReadFileBytes(directory / L"setup.exe"), PayloadFixture(L"setup.bin"));
  // FDICreate, FDICopy and FDIDestroy, reached through the pointers GetProcAddress gave.
  EXPECT_EQ(counted_dispatches, 3);
}

}  // namespace
