// What add_bootstrap_installer puts into an installer, read back from the built files: the payload
// resources by type and name with their bytes, the previous version, that the extraction takes
// the result as a valid payload, and the header checksum.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/payload_extraction.h"
#include "support/test_files.h"

namespace {

using Names = std::vector<std::wstring>;

BOOL CALLBACK CollectName(HMODULE, LPCWSTR type, LPWSTR name, LONG_PTR value) {
  auto* names = reinterpret_cast<Names*>(value);
  names->push_back(std::wstring(type) + L"/" + (IS_INTRESOURCE(name) ? L"#" : std::wstring(name)));
  return TRUE;
}

Names PayloadResourceNames(HMODULE module) {
  Names names;
  for (const wchar_t* type : {L"B7", L"BL", L"BN"})
    EnumResourceNamesW(module, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

struct PackagedCase {
  const wchar_t* file_name;
  Names resources;
  const wchar_t* setup_resource;  // type/name of the setup resource
  bool setup_is_cabinet;
  const wchar_t* setup_fixture;  // the file the setup resource was packed from
  std::string previous_version;  // RCDATA 1, or "(missing)"
  const wchar_t* archive_type;
  const wchar_t* setup_type;
  Names extracted;
};

class PackagedInstallerTest : public testing::TestWithParam<PackagedCase> {};

TEST_P(PackagedInstallerTest, CarriesThePayloadInTheConvention) {
  const PackagedCase& c = GetParam();
  const LoadedModule module = LoadFixture(c.file_name);
  ASSERT_TRUE(module) << "error " << GetLastError();

  EXPECT_EQ(PayloadResourceNames(module.get()), c.resources);
  const std::wstring archive = c.resources[0];
  const size_t slash = archive.find(L'/');
  EXPECT_EQ(ResourceBytes(module.get(), archive.substr(0, slash).c_str(), archive.substr(slash + 1).c_str()),
            PayloadFixture(L"archive.bin"));
  const std::wstring setup = c.setup_resource;
  const std::string setup_bytes = ResourceBytes(module.get(), setup.substr(0, 2).c_str(), setup.substr(3).c_str());
  if (c.setup_is_cabinet) {
    EXPECT_EQ(setup_bytes.substr(0, 4), "MSCF");
  } else {
    EXPECT_EQ(setup_bytes, PayloadFixture(c.setup_fixture));
  }
  EXPECT_EQ(ResourceBytes(module.get(), RT_RCDATA, MAKEINTRESOURCEW(1)), c.previous_version);

  TemporaryDirectory scratch(L"packaged");
  PathBuffer scratch_path;
  ASSERT_TRUE(BoundedCopy(scratch_path, scratch.Path().c_str()));
  ExtractedPayload extracted;
  const ExitOutcome outcome = ExtractPayloadResources(module.get(), scratch_path, extracted);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.windows_error, 0u);
  EXPECT_EQ(std::wstring(extracted.archive_type.units), c.archive_type);
  EXPECT_EQ(std::wstring(extracted.setup_type.units), c.setup_type);
  EXPECT_EQ(ListDirectory(scratch.Path()), c.extracted);
  EXPECT_EQ(ReadFileBytes(extracted.setup_path.units), PayloadFixture(c.setup_fixture));
}

INSTANTIATE_TEST_SUITE_P(Forms, PackagedInstallerTest,
                         testing::Values(
                             // The defaults: a 7z archive and a cabinet that expands into setup.exe.
                             PackagedCase{L"packaged_cabinet.exe",
                                          {L"B7/DRELIX.PACKED.7Z", L"BL/SETUP.EX_"},
                                          L"BL/SETUP.EX_",
                                          true,
                                          L"program.bin",
                                          "(missing)",
                                          L"B7",
                                          L"BL",
                                          {L"DRELIX.PACKED.7Z", L"setup.exe"}},
                             // Names are stored upper-cased, whatever case they were given in.
                             PackagedCase{L"packaged_plain.exe",
                                          {L"BN/DRELIX.DATA", L"BN/SETUP.EXE"},
                                          L"BN/SETUP.EXE",
                                          false,
                                          L"program.bin",
                                          "(missing)",
                                          L"BN",
                                          L"BN",
                                          {L"DRELIX.DATA", L"setup.exe"}},
                             // A patch is a second "B7" resource; the previous version is UTF-16 with its terminator.
                             PackagedCase{L"packaged_patch_renamed.exe",
                                          {L"B7/DRELIX.PACKED.7Z", L"B7/SETUP.DELTA"},
                                          L"B7/SETUP.DELTA",
                                          false,
                                          L"setup.bin",
                                          std::string("1\0.\0"
                                                      "2\0.\0"
                                                      "3\0.\0"
                                                      "4\0\0\0",
                                                      16),
                                          L"B7",
                                          L"B7",
                                          {L"DRELIX.PACKED.7Z", L"SETUP.DELTA"}}),
                         [](const testing::TestParamInfo<PackagedCase>& info) {
                           std::string name = Narrow(info.param.file_name);
                           return name.substr(0, name.find('.'));
                         });

TEST(PackagedInstallerLongNameTest, NameOf243CharactersKeepsThePayload) {
  const LoadedModule module = LoadFixture(L"packaged_long_name.exe");
  ASSERT_TRUE(module) << "error " << GetLastError();
  const std::wstring name = L"DRELIX" + std::wstring(237, L'A');
  EXPECT_EQ(PayloadResourceNames(module.get()), (Names{L"B7/" + name, L"BN/SETUP.EXE"}));
  EXPECT_EQ(ResourceBytes(module.get(), L"B7", name.c_str()), PayloadFixture(L"archive.bin"));
}

// drelix-pack sums the image while it streams it out; only a checksum computed apart from that code,
// here imagehlp's, shows a wrong one. Every installer the build packs is checked (the list comes
// from the build), the large ones above all: their word sums need the carry folded more than once.
TEST(PackedInstallerChecksumTest, EveryPackedInstallerCarriesTheChecksumImagehlpComputes) {
  const std::vector<std::wstring> installers = {PACKED_INSTALLERS};
  ASSERT_FALSE(installers.empty());
  for (const std::wstring& name : installers) {
    DWORD header_sum = 0;
    DWORD computed_sum = 0;
    ASSERT_EQ(MapFileAndCheckSumW((ProgramDirectory() + name).c_str(), &header_sum, &computed_sum), CHECKSUM_SUCCESS)
        << Narrow(name);
    EXPECT_NE(header_sum, 0u) << Narrow(name);
    EXPECT_EQ(header_sum, computed_sum) << Narrow(name);
  }
}

// What Windows shows in the file's Properties and what update systems read: the version API over
// the vendor's installer returns the vendor's fields, its icon group names the vendor's three images
// (the 256-pixel one PNG-compressed), and its manifest is the installer's own, byte for byte.
std::wstring VersionText(const std::vector<char>& block, const wchar_t* key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return L"(missing)";
  return static_cast<const wchar_t*>(value);
}

TEST(VendorInstallerTest, VersionApiAndResourceApiReturnTheVendorsFields) {
  const std::wstring file = ProgramDirectory() + L"vendor_installer.exe";
  DWORD ignored = 0;
  std::vector<char> block(GetFileVersionInfoSizeW(file.c_str(), &ignored));
  ASSERT_FALSE(block.empty()) << "error " << GetLastError();
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  EXPECT_EQ(VersionText(block, L"ProductName"), L"Halvex Studio");
  EXPECT_EQ(VersionText(block, L"CompanyName"), L"Halvex Ltd.");
  EXPECT_EQ(VersionText(block, L"FileDescription"), L"Halvex Studio setup");
  EXPECT_EQ(VersionText(block, L"LegalCopyright"), L"Copyright 2026 Halvex Ltd.");
  EXPECT_EQ(VersionText(block, L"ProductVersion"), L"2027.1");
  EXPECT_EQ(VersionText(block, L"FileVersion"), L"2027.1.4.77");
  EXPECT_EQ(VersionText(block, L"OriginalFilename"), L"vendor_installer.exe");
  EXPECT_EQ(VersionText(block, L"InternalName"), L"installer") << "what is not given stays the installer's";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (2027u << 16) | 1u);
  EXPECT_EQ(fixed->dwFileVersionLS, (4u << 16) | 77u);
  EXPECT_EQ(fixed->dwProductVersionMS, (2027u << 16) | 1u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  struct Translation {
    WORD language;
    WORD code_page;
  }* translation = nullptr;
  ASSERT_TRUE(
      VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation->language, 0x0409);
  EXPECT_EQ(translation->code_page, 1200);

  const LoadedModule vendor = LoadFixture(L"vendor_installer.exe");
  const LoadedModule stub = LoadFixture(L"installer_stub.exe");
  ASSERT_TRUE(vendor && stub);
  EXPECT_EQ(ResourceBytes(vendor.get(), RT_MANIFEST, MAKEINTRESOURCEW(1)),
            ResourceBytes(stub.get(), RT_MANIFEST, MAKEINTRESOURCEW(1)));
  const std::string group = ResourceBytes(vendor.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_EQ(group.size(), 6u + 3 * 14);
  const int expected_sizes[] = {32, 16, 256};
  for (int index = 0; index < 3; ++index) {
    const auto* entry = reinterpret_cast<const unsigned char*>(group.data() + 6 + 14 * index);
    EXPECT_EQ(entry[0] == 0 ? 256 : entry[0], expected_sizes[index]);
    const WORD id = static_cast<WORD>(entry[12] | entry[13] << 8);
    const DWORD size = entry[8] | entry[9] << 8 | entry[10] << 16 | static_cast<DWORD>(entry[11]) << 24;
    const std::string image = ResourceBytes(vendor.get(), RT_ICON, MAKEINTRESOURCEW(id));
    EXPECT_EQ(image.size(), size) << "image " << index;
    EXPECT_EQ(image.substr(1, 3) == "PNG", index == 2) << "image " << index;
  }
  // The group's images are the vendor's alone: the installer's own 16-pixel image is gone.
  EXPECT_EQ(FindResourceW(vendor.get(), MAKEINTRESOURCEW(4), RT_ICON), nullptr);
}

}  // namespace
