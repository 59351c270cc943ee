// Redirects one import of the test executable for the length of a scope. The installer's code is
// linked into the test executable, so its calls go through this module's import address table;
// swapping one entry lets a test produce a platform failure Wine cannot, without a layer in the
// product. The original entry is restored when the scope ends.
#pragma once

#include <windows.h>

#include <vector>

class ImportRedirect {
 public:
  // dll_name is matched without regard to case ("kernel32.dll"); the test fails if the import is absent.
  ImportRedirect(const char* dll_name, const char* function_name, const void* replacement);
  ImportRedirect(const ImportRedirect&) = delete;
  ImportRedirect& operator=(const ImportRedirect&) = delete;
  ~ImportRedirect();

  // The function the entry held before, for replacements that pass some calls through.
  template <typename Function>
  Function Original() const {
    return reinterpret_cast<Function>(const_cast<void*>(original_));
  }

 private:
  // A function can sit in more than one import descriptor of a statically linked executable; every
  // entry for it is redirected.
  std::vector<void**> slots_;
  const void* original_ = nullptr;
};
