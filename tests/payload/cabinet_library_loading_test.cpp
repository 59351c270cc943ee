// How cabinet.dll is found and kept. The library stays loaded for the life of the process, so this
// runs in a test program of its own that has not loaded it before: the first expansion shows which
// path is loaded, the second that nothing is loaded again. The loads and look-ups are counted on
// their way to the platform and passed through unchanged. That a planted cabinet.dll never runs is
// shown with whole installers in the end-to-end tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/cabinet_expansion.h"
#include "support/child_process.h"
#include "support/import_redirect.h"
#include "support/test_files.h"

namespace {

std::vector<std::wstring> loaded_paths;
std::vector<std::string> looked_up_names;
ImportRedirect* load_redirect = nullptr;
ImportRedirect* lookup_redirect = nullptr;

HMODULE WINAPI RecordLoad(LPCWSTR path, HANDLE file, DWORD flags) {
  loaded_paths.push_back(path);
  EXPECT_EQ(flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  return load_redirect->Original<decltype(&LoadLibraryExW)>()(path, file, flags);
}

FARPROC WINAPI RecordLookUp(HMODULE module, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) looked_up_names.push_back(name);
  return lookup_redirect->Original<decltype(&GetProcAddress)>()(module, name);
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& unit : text) unit = static_cast<wchar_t>(towlower(unit));
  return text;
}

TEST(CabinetLibraryLoadingTest, OnlyTheSystemDirectoryCopyLoadsWhateverTheEnvironmentSaysAndIsKept) {
  ASSERT_EQ(GetModuleHandleW(L"cabinet.dll"), nullptr) << "something loaded cabinet.dll before the test";
  wchar_t system_directory[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system_directory, MAX_PATH), 0u);

  TemporaryDirectory directory(L"loading");
  const std::wstring cabinet = directory / L"SETUP.EX_";
  ASSERT_TRUE(CopyFileTo(ProgramDirectory() + L"payload_fixtures\\setup_exe.cab", cabinet));
  const std::wstring target = directory / L"setup.exe";

  ImportRedirect load("kernel32.dll", "LoadLibraryExW", reinterpret_cast<const void*>(&RecordLoad));
  ImportRedirect lookup("kernel32.dll", "GetProcAddress", reinterpret_cast<const void*>(&RecordLookUp));
  load_redirect = &load;
  lookup_redirect = &lookup;
  {
    EnvironmentVariableScope no_windir(L"WINDIR", nullptr);
    EnvironmentVariableScope other_root(L"SYSTEMROOT", directory.Path().c_str());
    EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), target.c_str()));
  }
  ASSERT_EQ(loaded_paths.size(), 1u);
  EXPECT_EQ(Lower(loaded_paths[0]), Lower(std::wstring(system_directory) + L"\\cabinet.dll"));
  EXPECT_EQ(looked_up_names, (std::vector<std::string>{"FDICreate", "FDIDestroy", "FDICopy"}));

  ASSERT_TRUE(DeleteFileW(target.c_str()));
  EXPECT_TRUE(ExpandCabinet(cabinet.c_str(), target.c_str()));
  EXPECT_EQ(loaded_paths.size(), 1u) << "the library is loaded again";
  EXPECT_EQ(looked_up_names.size(), 6u) << "the entry points are looked up on every call";
  EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(ProgramDirectory() + L"payload_fixtures\\setup.bin"));
  load_redirect = nullptr;
  lookup_redirect = nullptr;
}

}  // namespace
