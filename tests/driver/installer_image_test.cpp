// The shape of the installer executable itself, read from the built file: what it imports, what it
// asks of the loader, what it carries besides its payload, and that linking it is repeatable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "support/test_files.h"

namespace {

class InstallerImage {
 public:
  explicit InstallerImage(const std::wstring& path) : bytes_(ReadFileBytes(path)) {}

  const std::string& Bytes() const { return bytes_; }

  const IMAGE_NT_HEADERS64* Headers() const {
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes_.data() + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE ? nt : nullptr;
  }

  // Where a relative virtual address lies in the file.
  const char* AtRva(DWORD rva) const {
    const IMAGE_NT_HEADERS64* nt = Headers();
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) {
        return bytes_.data() + section->PointerToRawData + (rva - section->VirtualAddress);
      }
    }
    return nullptr;
  }

  std::set<std::string> ImportedLibraries() const {
    std::set<std::string> names;
    const IMAGE_DATA_DIRECTORY& imports = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(AtRva(imports.VirtualAddress));
    for (; descriptor != nullptr && descriptor->Name != 0; ++descriptor) {
      std::string name = AtRva(descriptor->Name);
      std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(toupper(c)); });
      names.insert(name);
    }
    return names;
  }

 private:
  std::string bytes_;
};

class InstallerImageTest : public testing::Test {
 protected:
  InstallerImage image_{ProgramDirectory() + L"installer_stub.exe"};
};

TEST_F(InstallerImageTest, ImportsOnlyTheThreeSystemLibraries) {
  ASSERT_NE(image_.Headers(), nullptr);
  EXPECT_EQ(image_.ImportedLibraries(), (std::set<std::string>{"ADVAPI32.DLL", "KERNEL32.DLL", "SHELL32.DLL"}));
  EXPECT_EQ(image_.Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
  EXPECT_EQ(image_.Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].Size, 0u)
      << "no runtime start-up that needs thread-local callbacks";
}

TEST_F(InstallerImageTest, IsA64BitWindowsGuiProgramForVersion10WithAslrAndNx) {
  const IMAGE_NT_HEADERS64* nt = image_.Headers();
  ASSERT_NE(nt, nullptr);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(nt->OptionalHeader.MajorSubsystemVersion, 10);
  EXPECT_EQ(nt->OptionalHeader.MinorSubsystemVersion, 0);
  EXPECT_EQ(nt->OptionalHeader.MajorOperatingSystemVersion, 10);
  EXPECT_EQ(nt->OptionalHeader.MinorOperatingSystemVersion, 0);
  const WORD wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                      IMAGE_DLLCHARACTERISTICS_NX_COMPAT;
  EXPECT_EQ(nt->OptionalHeader.DllCharacteristics & wanted, wanted);
  EXPECT_EQ(nt->FileHeader.TimeDateStamp, 0u);
  // The loader maps resources straight from the file only with page-sized file alignment.
  EXPECT_EQ(nt->OptionalHeader.FileAlignment, 4096u);
}

// Code and data are what the installer itself costs; imports, resources and relocations are the
// platform's bookkeeping and grow with the payload.
TEST_F(InstallerImageTest, StaysWithin32KiBOfWhich16KiBCodeAndData) {
  const IMAGE_NT_HEADERS64* nt = image_.Headers();
  ASSERT_NE(nt, nullptr);
  EXPECT_LE(image_.Bytes().size(), 32u * 1024);
  uint64_t code_and_data = 0;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
    const std::string name(reinterpret_cast<const char*>(section->Name),
                           strnlen(reinterpret_cast<const char*>(section->Name), IMAGE_SIZEOF_SHORT_NAME));
    if (name != ".idata" && name != ".rsrc" && name != ".reloc") code_and_data += section->Misc.VirtualSize;
  }
  EXPECT_LE(code_and_data, 16u * 1024);
}

TEST_F(InstallerImageTest, LinkingTheSameInputsTwiceGivesTheSameBytes) {
  const InstallerImage relinked(ProgramDirectory() + L"installer_stub_relinked.exe");
  ASSERT_FALSE(image_.Bytes().empty());
  EXPECT_TRUE(image_.Bytes() == relinked.Bytes());
}

// Packaging rebuilds the resource section that carries these, so a packaged installer is checked
// as well as the installer without payload.
TEST(InstallerResourcesTest, CarryTheManifestAVersionBlockAndAnIcon) {
  for (const wchar_t* installer : {L"installer_stub.exe", L"demo_installer.exe"}) {
    const LoadedModule loaded = LoadFixture(installer);
    ASSERT_TRUE(loaded) << Narrow(installer);
    HMODULE module = loaded.get();
    const std::string manifest = ResourceBytes(module, RT_MANIFEST, MAKEINTRESOURCEW(1));
    for (const char* expected : {
             R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
             R"(<maxversiontested Id="10.0.18362.0"/>)",
             "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
         }) {
      EXPECT_NE(manifest.find(expected), std::string::npos) << Narrow(installer) << ": " << expected;
    }

    const std::string version = ResourceBytes(module, RT_VERSION, MAKEINTRESOURCEW(1));
    const std::string signature("\xBD\x04\xEF\xFE", 4);  // VS_FIXEDFILEINFO
    EXPECT_NE(version.find(signature), std::string::npos) << Narrow(installer);
    EXPECT_NE(ResourceBytes(module, RT_GROUP_ICON, MAKEINTRESOURCEW(1)), "(missing)") << Narrow(installer);
    EXPECT_NE(ResourceBytes(module, RT_ICON, MAKEINTRESOURCEW(1)), "(missing)") << Narrow(installer);
  }
}

}  // namespace
