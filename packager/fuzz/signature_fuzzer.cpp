// libFuzzer target: arbitrary bytes as an installer's certificate table, checked as --inspect does.
#include <cstddef>
#include <cstdint>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckSignatureTable({data, size});
  return 0;
}
