// libFuzzer target: arbitrary bytes as a version block, read, written again and read back.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadVersionBlockBytes({data, size});
  return 0;
}
