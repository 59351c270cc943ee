#include "support/import_redirect.h"

#include <gtest/gtest.h>

namespace {

std::vector<void**> FindImportSlots(const char* dll_name, const char* function_name) {
  std::vector<void**> found;
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return found;
  for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll_name) != 0) continue;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA64*>(base + descriptor->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + descriptor->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (lstrcmpA(reinterpret_cast<const char*>(by_name->Name), function_name) == 0) {
        found.push_back(reinterpret_cast<void**>(&slots->u1.Function));
      }
    }
  }
  return found;
}

void Store(void** slot, const void* value) {
  DWORD old_protection = 0;
  VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old_protection);
  *slot = const_cast<void*>(value);
  VirtualProtect(slot, sizeof(*slot), old_protection, &old_protection);
}

}  // namespace

ImportRedirect::ImportRedirect(const char* dll_name, const char* function_name, const void* replacement)
    : slots_(FindImportSlots(dll_name, function_name)) {
  if (slots_.empty()) {
    ADD_FAILURE() << "the test executable does not import " << function_name << " from " << dll_name;
    return;
  }
  original_ = *slots_.front();
  for (void** slot : slots_) Store(slot, replacement);
}

ImportRedirect::~ImportRedirect() {
  for (void** slot : slots_) Store(slot, original_);
}
