// Compiled with -mguard=cf, as the installer's code is: the call below goes through the Control
// Flow Guard dispatch pointer, the target in rax and the six arguments where the callee expects
// them (the last two on the stack).
#include <cstdint>

using SixArgumentFunction = std::uint64_t (*)(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t,
                                              std::uint64_t);

// A call, not a jump: the target returns here, through whatever the dispatch left on the stack.
[[clang::disable_tail_calls]] std::uint64_t CallThroughGuard(SixArgumentFunction target, std::uint64_t first,
                                                             std::uint64_t second, std::uint64_t third,
                                                             std::uint64_t fourth, std::uint64_t fifth,
                                                             std::uint64_t sixth) {
  return target(first, second, third, fourth, fifth, sixth);
}
