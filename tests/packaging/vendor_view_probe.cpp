// vendor_view_probe FILE: prints what Windows shows of an installer's vendor fields, a line each,
// for the tests that pack outside the build (the consumer example): "<where> <Key>=<text>" in UTF-8
// and "icon <width>x<height> made" or "not made". Exit code 0 when the file has a version block.
#include <cstdio>
#include <string>

#include "vendor_view.h"

namespace {

std::string Utf8(const std::wstring& text) {
  std::string bytes(
      static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
  if (count != 2) return 2;
  const std::vector<VersionTable> tables = ReadVersionTables(arguments[1]);
  for (const VersionTable& table : tables) {
    for (const auto& [key, text] : table.texts) {
      std::printf("%s %s=%s\n", Utf8(table.where).c_str(), Utf8(key).c_str(), Utf8(text).c_str());
    }
  }
  for (const IconMade& icon : MakeIcons(arguments[1])) {
    std::printf("icon %dx%d %s\n", icon.width, icon.height, icon.made ? "made" : "not made");
  }
  return tables.empty() ? 1 : 0;
}
