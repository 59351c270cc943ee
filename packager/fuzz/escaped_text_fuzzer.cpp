// libFuzzer target: arbitrary bytes as UTF-8 and as UTF-16 text to escape, decoded back again.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EscapeBytes({data, size});
  return 0;
}
