// The few C runtime functions the compiler may call on its own (to clear or copy a large structure)
// for the installer executable, which links no C runtime. Kept to plain byte loops; the build
// compiles this file with -fno-builtin so the compiler does not turn them back into calls to themselves.
#include <cstddef>

extern "C" {

void* memset(void* destination, int value, size_t count) {
  auto* byte = static_cast<unsigned char*>(destination);
  while (count-- != 0) *byte++ = static_cast<unsigned char>(value);
  return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  while (count-- != 0) *to++ = *from++;
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  if (to < from) {
    while (count-- != 0) *to++ = *from++;
  } else {
    while (count-- != 0) to[count] = from[count];
  }
  return destination;
}

}  // extern "C"
