// The installer's indirect calls go through the Control Flow Guard dispatch pointer, which a Windows
// loader that enforces the guard points at its own check. Wine enforces nothing (its loader leaves
// the pointer as the image has it), so the image's own dispatch stub runs here, as on a Windows
// without the guard: a call made through it must reach its target as the caller made it, the
// arguments on the stack where the caller put them. Then the cabinet expansion, which calls the
// cabinet library's functions through pointers, is counted through a stub that passes each call on
// to the image's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "payload/cabinet_expansion.h"
#include "runtime/control_flow_guard.h"
#include "support/test_files.h"

extern "C" {
// Counts each call and passes it on to the image's own stub, the target still in rax.
void CountingGuardDispatch();
volatile long long counted_dispatches = 0;
}

__asm__(
    ".text\n"
    ".globl CountingGuardDispatch\n"
    "CountingGuardDispatch:\n"
    "  lock incq counted_dispatches(%rip)\n"
    "  jmp GuardDispatchAllowAll\n");

// guarded_call.cpp, compiled with -mguard=cf as the installer's code is.
using SixArgumentFunction = std::uint64_t (*)(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t,
                                              std::uint64_t);
std::uint64_t CallThroughGuard(SixArgumentFunction target, std::uint64_t first, std::uint64_t second,
                               std::uint64_t third, std::uint64_t fourth, std::uint64_t fifth, std::uint64_t sixth);

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

// The arguments the target of a guarded call received; the last two come on the stack, where a
// dispatch that calls instead of jumping would have moved them.
std::uint64_t received_arguments[6] = {};

[[gnu::noinline]] std::uint64_t RecordArguments(std::uint64_t first, std::uint64_t second, std::uint64_t third,
                                                std::uint64_t fourth, std::uint64_t fifth, std::uint64_t sixth) {
  const std::uint64_t arguments[] = {first, second, third, fourth, fifth, sixth};
  std::copy(std::begin(arguments), std::end(arguments), std::begin(received_arguments));
  return first ^ sixth;
}

TEST(ControlFlowGuardTest, IndirectCallsGoThroughTheDispatchPointer) {
  ASSERT_EQ(__guard_dispatch_icall_fptr, &GuardDispatchAllowAll) << "Wine's loader leaves the default in place";
  const std::uint64_t sent[] = {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666};
  const std::uint64_t result = CallThroughGuard(RecordArguments, sent[0], sent[1], sent[2], sent[3], sent[4], sent[5]);
  EXPECT_EQ(result, sent[0] ^ sent[5]);
  ASSERT_TRUE(std::equal(std::begin(sent), std::end(sent), std::begin(received_arguments)))
      << "fifth 0x" << std::hex << received_arguments[4] << ", sixth 0x" << received_arguments[5];

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
