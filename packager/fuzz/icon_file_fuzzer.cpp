// libFuzzer target: arbitrary bytes as an .ico file, read, made into a group and read back.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadIconFileBytes({data, size});
  return 0;
}
