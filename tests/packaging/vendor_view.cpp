#include "vendor_view.h"

#include <cstdio>
#include <memory>
#include <type_traits>

namespace {

struct Translation {
  WORD language;
  WORD code_page;
};

// The table the block's first translation names, as Explorer reads it, with its texts and numbers.
bool ReadTable(const void* block, const std::wstring& where, VersionTable& table) {
  Translation* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation)) {
    return false;
  }
  wchar_t name[9];
  std::swprintf(name, 9, L"%04X%04X", translation->language, translation->code_page);
  table.where = where;
  table.translation = name;
  for (const wchar_t* key : kVersionKeys) {
    void* value = nullptr;
    const std::wstring path = L"\\StringFileInfo\\" + table.translation + L"\\" + key;
    if (VerQueryValueW(block, path.c_str(), &value, &length) && length != 0) {
      table.texts[key] = static_cast<const wchar_t*>(value);
    }
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  if (VerQueryValueW(block, L"\\", reinterpret_cast<void**>(&fixed), &length) && length >= sizeof *fixed) {
    table.file_version_high = fixed->dwFileVersionMS;
    table.file_version_low = fixed->dwFileVersionLS;
    table.product_version_high = fixed->dwProductVersionMS;
    table.product_version_low = fixed->dwProductVersionLS;
  }
  return true;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR value) {
  reinterpret_cast<std::vector<WORD>*>(value)->push_back(language);
  return TRUE;
}

struct ModuleRelease {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleRelease>;

Module LoadResources(const std::wstring& path) {
  return Module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

// A resource's bytes copied out: the version API may write into the block it is given.
std::vector<BYTE> ResourceCopy(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  HRSRC found = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) return {};
  // Room for what GetFileVersionInfo would add after the block.
  std::vector<BYTE> copy(bytes, bytes + SizeofResource(module, found));
  copy.resize(copy.size() * 2);
  return copy;
}

}  // namespace

std::vector<VersionTable> ReadVersionTables(const std::wstring& path) {
  std::vector<VersionTable> tables;
  DWORD ignored = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  if (block.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
    return tables;
  }
  VersionTable api;
  if (ReadTable(block.data(), L"version API", api)) tables.push_back(api);
  const Module module = LoadResources(path);
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module.get(), MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  for (WORD language : languages) {
    const std::vector<BYTE> copy = ResourceCopy(module.get(), MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), language);
    VersionTable table;
    if (!copy.empty() && ReadTable(copy.data(), L"resource language " + std::to_wstring(language), table)) {
      tables.push_back(table);
    }
  }
  return tables;
}

std::vector<IconMade> MakeIcons(const std::wstring& path) {
  std::vector<IconMade> icons;
  const Module module = LoadResources(path);
  HRSRC group_resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  HGLOBAL group_loaded = group_resource != nullptr ? LoadResource(module.get(), group_resource) : nullptr;
  auto* group = group_loaded != nullptr ? static_cast<BYTE*>(LockResource(group_loaded)) : nullptr;
  if (group == nullptr) return icons;
  const WORD count = static_cast<WORD>(group[4] | group[5] << 8);
  for (WORD index = 0; index < count; ++index) {
    const BYTE* entry = group + 6 + 14 * index;
    IconMade icon{entry[0] == 0 ? 256 : entry[0], entry[1] == 0 ? 256 : entry[1], false};
    const int id = LookupIconIdFromDirectoryEx(group, TRUE, icon.width, icon.height, LR_DEFAULTCOLOR);
    HRSRC image = id != 0 ? FindResourceW(module.get(), MAKEINTRESOURCEW(id), RT_ICON) : nullptr;
    HGLOBAL loaded = image != nullptr ? LoadResource(module.get(), image) : nullptr;
    auto* bytes = loaded != nullptr ? static_cast<BYTE*>(LockResource(loaded)) : nullptr;
    HICON made = bytes == nullptr ? nullptr
                                  : CreateIconFromResourceEx(bytes, SizeofResource(module.get(), image), TRUE,
                                                             0x00030000, icon.width, icon.height, LR_DEFAULTCOLOR);
    ICONINFO information = {};
    if (made != nullptr && GetIconInfo(made, &information)) {
      BITMAP mask = {};
      GetObjectW(information.hbmMask, sizeof mask, &mask);
      // A mask without a colour bitmap holds both halves, one above the other.
      const int height = information.hbmColor != nullptr ? mask.bmHeight : mask.bmHeight / 2;
      icon.made = mask.bmWidth == icon.width && height == icon.height;
      if (information.hbmColor != nullptr) DeleteObject(information.hbmColor);
      DeleteObject(information.hbmMask);
    }
    if (made != nullptr) DestroyIcon(made);
    icons.push_back(icon);
  }
  return icons;
}
