// libFuzzer target: arbitrary bytes as the setup cabinet whose first file is expanded.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ExpandCabinetBytes({data, size});
  return 0;
}
