// A read-only view of bytes; for a payload resource, a view into the loaded image that is never
// copied or freed. A size of 0 stands for "not found".
#pragma once

#include <cstdint>

struct MemoryBlock {
  const void* data = nullptr;
  uint64_t size = 0;
};
