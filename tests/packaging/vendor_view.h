// What Windows shows of an installer's vendor fields, read through its own APIs: the texts the
// version API returns (GetFileVersionInfoW and VerQueryValueW, as Explorer's Properties read them,
// and the same query over each version resource of the file, whatever its language), and whether
// the icon API (LookupIconIdFromDirectoryEx and CreateIconFromResourceEx) makes each icon size the
// icon group names.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// The version texts under the usual keys in one table the version API reads.
struct VersionTable {
  std::wstring where;                          // "version API" or "resource language 1031"
  std::wstring translation;                    // the table read, "040904B0"
  std::map<std::wstring, std::wstring> texts;  // only the keys that are there
  DWORD file_version_high = 0;
  DWORD file_version_low = 0;
  DWORD product_version_high = 0;
  DWORD product_version_low = 0;
};

struct IconMade {
  int width = 0;
  int height = 0;
  bool made = false;  // found by its size and made at that size
};

// The keys every installer carries.
inline const wchar_t* const kVersionKeys[] = {L"ProductName",    L"CompanyName", L"FileDescription",  L"LegalCopyright",
                                              L"ProductVersion", L"FileVersion", L"OriginalFilename", L"InternalName"};

// The version API's view first, then one per version resource; empty when the file has none.
std::vector<VersionTable> ReadVersionTables(const std::wstring& path);
// One per entry of the first icon group.
std::vector<IconMade> MakeIcons(const std::wstring& path);
