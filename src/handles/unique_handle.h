// One move-only owner for every kind of platform handle. The traits name the close function and
// the value that means "none", so a file handle is empty at INVALID_HANDLE_VALUE and a process
// handle at null, and no handle can be closed twice or forgotten.
#pragma once

#include <windows.h>

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  [[nodiscard]] Type Get() const noexcept { return value_; }
  [[nodiscard]] bool IsValid() const noexcept { return value_ != Traits::Invalid(); }

  [[nodiscard]] Type Release() noexcept {
    const Type value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  // The owner lets go of the old value before closing it, so a close that fails or re-enters
  // never sees a half-updated owner.
  void Reset(Type value = Traits::Invalid()) noexcept {
    const Type old = value_;
    value_ = value;
    if (old != Traits::Invalid()) Traits::Close(old);
  }

  // For out-parameters: whatever was held is released first, so nothing leaks.
  [[nodiscard]] Type* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) noexcept { CloseHandle(handle); }
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type handle) noexcept { CloseHandle(handle); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type key) noexcept { RegCloseKey(key); }
};

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type memory) noexcept { LocalFree(memory); }
};

struct HeapBlockTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
};

using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueHeapBlock = UniqueHandle<HeapBlockTraits>;

// Local memory typed for what the platform put in it (an argument vector, a SID string), so no
// caller casts at each use. It is the untyped owner underneath, so the closing code is shared.
template <typename Element>
class UniqueLocalMemoryOf : public UniqueLocalMemory {
 public:
  [[nodiscard]] Element* Get() const noexcept { return static_cast<Element*>(UniqueLocalMemory::Get()); }
  [[nodiscard]] Element** Put() noexcept { return reinterpret_cast<Element**>(UniqueLocalMemory::Put()); }
};

using UniqueLocalWideString = UniqueLocalMemoryOf<wchar_t>;
using UniqueArgumentVector = UniqueLocalMemoryOf<wchar_t*>;

// The pair CreateProcessW hands back: both handles are owned, and both close.
struct UniqueProcessInformation {
  UniqueKernelHandle process;
  UniqueKernelHandle thread;
};
