// Random access to the bytes of an image, whether it is held in memory (the stub the tool carries)
// or read from a file in pieces (an installer of any size being inspected).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // False when the range does not lie wholly within the source or cannot be read.
  [[nodiscard]] virtual bool Read(std::uint64_t offset, void* destination, std::size_t size) = 0;
};

class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Read(std::uint64_t offset, void* destination, std::size_t size) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileByteSource final : public ByteSource {
 public:
  FileByteSource(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* destination, std::size_t size) override;

 private:
  std::FILE* file_;
  std::uint64_t size_;
};
