// The shape of the installer executable itself, read from the built file: what it imports, what it
// asks of the loader, what it carries besides its payload, and that linking it is repeatable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "runtime/load_configuration.h"
#include "support/test_files.h"

namespace {

// Not in MinGW's headers: the debug entry that carries IMAGE_DLLCHARACTERISTICS_EX_*, and its CET flag.
constexpr DWORD kDebugTypeExDllCharacteristics = 20;
constexpr DWORD kExDllCharacteristicsCetCompatible = 0x1;
constexpr WORD kLoadLibrarySearchSystem32 = 0x800;
// A CodeView (RSDS) record: the signature, a 16-byte GUID, a 4-byte age, then the PDB's name.
constexpr std::size_t kCodeViewGuidSize = 16;
constexpr std::size_t kCodeViewNameOffset = 4 + kCodeViewGuidSize + 4;

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

  // The section whose virtual range holds an address of the image (as the image's own pointers
  // hold them, at its preferred base), or null.
  const IMAGE_SECTION_HEADER* SectionOf(ULONGLONG address) const {
    const IMAGE_NT_HEADERS64* nt = Headers();
    const ULONGLONG rva = address - nt->OptionalHeader.ImageBase;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) return section;
    }
    return nullptr;
  }

  const LoadConfigurationDirectory64* LoadConfiguration() const {
    const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    if (directory.Size < sizeof(LoadConfigurationDirectory64)) return nullptr;
    return reinterpret_cast<const LoadConfigurationDirectory64*>(AtRva(directory.VirtualAddress));
  }

  // The extended DLL characteristics of the debug directory (where the CET flag lives), or 0.
  DWORD ExtendedDllCharacteristics() const {
    const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
    const auto* entries = reinterpret_cast<const IMAGE_DEBUG_DIRECTORY*>(AtRva(directory.VirtualAddress));
    for (DWORD index = 0; entries != nullptr && index < directory.Size / sizeof(IMAGE_DEBUG_DIRECTORY); ++index) {
      if (entries[index].Type == kDebugTypeExDllCharacteristics && entries[index].SizeOfData >= sizeof(DWORD)) {
        DWORD characteristics = 0;
        std::memcpy(&characteristics, AtRva(entries[index].AddressOfRawData), sizeof characteristics);
        return characteristics;
      }
    }
    return 0;
  }

  // The CodeView record of the debug directory, which names the image's PDB: "RSDS", its identity
  // (a 16-byte GUID and a 4-byte age) and its file name; null when there is none.
  const char* CodeViewRecord() const {
    const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
    const auto* entries = reinterpret_cast<const IMAGE_DEBUG_DIRECTORY*>(AtRva(directory.VirtualAddress));
    for (DWORD index = 0; entries != nullptr && index < directory.Size / sizeof(IMAGE_DEBUG_DIRECTORY); ++index) {
      if (entries[index].Type == IMAGE_DEBUG_TYPE_CODEVIEW && entries[index].SizeOfData > kCodeViewNameOffset &&
          std::memcmp(AtRva(entries[index].AddressOfRawData), "RSDS", 4) == 0) {
        return AtRva(entries[index].AddressOfRawData);
      }
    }
    return nullptr;
  }

  // The bytes with the PDB's GUID and the header checksum that covers it cleared: the GUID is a hash
  // of the PDB, which names the object files each link read.
  std::string BytesWithoutSymbolIdentity() const {
    std::string bytes = bytes_;
    const char* record = CodeViewRecord();
    if (record != nullptr) std::memset(bytes.data() + (record - bytes_.data()) + 4, 0, kCodeViewGuidSize);
    const auto checksum = reinterpret_cast<const char*>(&Headers()->OptionalHeader.CheckSum) - bytes_.data();
    std::memset(bytes.data() + checksum, 0, sizeof(DWORD));
    return bytes;
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
  EXPECT_TRUE(image_.BytesWithoutSymbolIdentity() == relinked.BytesWithoutSymbolIdentity());
}

// A debugger or symbol server finds the PDB by its name alone: no folder of the build machine.
TEST_F(InstallerImageTest, NamesItsSymbolFileWithoutAFolder) {
  const char* record = image_.CodeViewRecord();
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(record + kCodeViewNameOffset, "installer_stub.pdb");
}

// What binary scanners check, in the installer without payload and in a packaged installer, whose
// resource section and relocations packing has moved. Wine loads such an image but enforces neither
// Control Flow Guard nor CET, and does not read DependentLoadFlags: these are shown as the fields
// Windows reads, not as behaviour (the stack cookie's and the dispatch pointer's behaviour are
// tested in runtime_support_test.cpp and control_flow_guard_test.cpp).
TEST(InstallerHardeningTest, CarriesControlFlowGuardCetSystemOnlyLoadsAndARandomisedCookie) {
  for (const wchar_t* installer : {L"installer_stub.exe", L"demo_installer.exe"}) {
    SCOPED_TRACE(Narrow(installer));
    const InstallerImage image(ProgramDirectory() + installer);
    const IMAGE_NT_HEADERS64* nt = image.Headers();
    ASSERT_NE(nt, nullptr);
    const WORD wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                        IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_GUARD_CF;
    EXPECT_EQ(nt->OptionalHeader.DllCharacteristics & wanted, wanted);
    EXPECT_NE(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u) << "ASLR needs relocations";
    EXPECT_EQ(image.ExtendedDllCharacteristics() & kExDllCharacteristicsCetCompatible,
              kExDllCharacteristicsCetCompatible);

    const LoadConfigurationDirectory64* config = image.LoadConfiguration();
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->Size, sizeof(LoadConfigurationDirectory64));
    EXPECT_EQ(config->DependentLoadFlags, kLoadLibrarySearchSystem32);
    EXPECT_EQ(config->GuardFlags & (kGuardCfInstrumented | kGuardCfFunctionTablePresent),
              kGuardCfInstrumented | kGuardCfFunctionTablePresent);
    EXPECT_NE(config->GuardCFFunctionTable, nullptr);
    EXPECT_GT(reinterpret_cast<ULONGLONG>(config->GuardCFFunctionCount), 0u);

    // The two guard pointers sit in read-only data (the loader alone rewrites them) and point at code.
    for (LoadConfigurationAddress pointer :
         {config->GuardCFCheckFunctionPointer, config->GuardCFDispatchFunctionPointer}) {
      const IMAGE_SECTION_HEADER* section = image.SectionOf(reinterpret_cast<ULONGLONG>(pointer));
      ASSERT_NE(section, nullptr);
      EXPECT_EQ(section->Characteristics & (IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE), 0u);
      ULONGLONG target = 0;
      std::memcpy(&target,
                  image.AtRva(static_cast<DWORD>(reinterpret_cast<ULONGLONG>(pointer) - nt->OptionalHeader.ImageBase)),
                  sizeof target);
      const IMAGE_SECTION_HEADER* code = image.SectionOf(target);
      ASSERT_NE(code, nullptr);
      EXPECT_NE(code->Characteristics & IMAGE_SCN_MEM_EXECUTE, 0u);
    }

    // The cookie lies in writable data and holds the default the loader replaces.
    const ULONGLONG cookie_address = reinterpret_cast<ULONGLONG>(config->SecurityCookie);
    const IMAGE_SECTION_HEADER* cookie_section = image.SectionOf(cookie_address);
    ASSERT_NE(cookie_section, nullptr);
    EXPECT_NE(cookie_section->Characteristics & IMAGE_SCN_MEM_WRITE, 0u);
    ULONGLONG cookie = 0;
    std::memcpy(&cookie, image.AtRva(static_cast<DWORD>(cookie_address - nt->OptionalHeader.ImageBase)), sizeof cookie);
    EXPECT_EQ(cookie, kDefaultSecurityCookie);
  }
}

TEST_F(InstallerImageTest, HasNoSectionBothWritableAndExecutable) {
  const IMAGE_NT_HEADERS64* nt = image_.Headers();
  ASSERT_NE(nt, nullptr);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index, ++section) {
    EXPECT_NE(section->Characteristics & (IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE),
              static_cast<DWORD>(IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE))
        << std::string(reinterpret_cast<const char*>(section->Name), IMAGE_SIZEOF_SHORT_NAME);
  }
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
