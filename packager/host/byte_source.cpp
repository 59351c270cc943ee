#include "host/byte_source.h"

#include <cstring>

#include "host/host_file.h"

bool MemoryByteSource::Read(std::uint64_t offset, void* destination, std::size_t size) {
  if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
  if (size != 0) std::memcpy(destination, bytes_.data() + offset, size);
  return true;
}

bool FileByteSource::Read(std::uint64_t offset, void* destination, std::size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  return SeekFile(file_, offset) && std::fread(destination, 1, size, file_) == size;
}
