// libFuzzer target: arbitrary bytes as the installer without payload given to --stub.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PackWithStub({data, size});
  return 0;
}
