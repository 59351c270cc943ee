// libFuzzer target: arbitrary bytes as the installer given to --inspect.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InspectBytes({data, size});
  return 0;
}
