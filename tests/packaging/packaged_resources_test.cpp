// What add_bootstrap_installer puts into an installer, read back from the built files: the payload
// resources by type and name with their bytes, the previous version, that the extraction takes
// the result as a valid payload, and the header checksum.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "payload/payload_extraction.h"
#include "support/child_process.h"
#include "support/test_files.h"
#include "vendor_view.h"

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

// What Windows shows in the file's Properties and what update systems read, for every installer
// the build packs with vendor fields: the version API returns the vendor's texts from every version
// resource and the table its translation names, the icon API makes every size the group names, and
// the manifest is the installer's own, byte for byte.
struct VendorCase {
  const wchar_t* file_name;
  std::map<std::wstring, std::wstring> texts;
  std::size_t version_resources;
};

const std::map<std::wstring, std::wstring> kBuildSystemTexts = {
    {L"ProductName", L"Halvex Studio"},
    {L"CompanyName", L"Halvex \"Ltd.\" $<none>"},
    {L"FileDescription", L"--setup-form;plain C:\\Halvex\\"},
    {L"LegalCopyright", L"Copyright 2026 Halvex Ltd.; all rights reserved"},
    {L"ProductVersion", L"2027.1-beta"},
    {L"FileVersion", L"2027.1.4.77"},
    {L"InternalName", L"installer"}};

std::map<std::wstring, std::wstring> WithOriginalFilename(std::map<std::wstring, std::wstring> texts,
                                                          const wchar_t* name) {
  texts[L"OriginalFilename"] = name;
  return texts;
}

class VendorInstallerTest : public testing::TestWithParam<VendorCase> {};

TEST_P(VendorInstallerTest, VersionApiReturnsTheVendorsTextsAndIconApiMakesEverySize) {
  const VendorCase& c = GetParam();
  const std::wstring file = ProgramDirectory() + c.file_name;
  const std::vector<VersionTable> tables = ReadVersionTables(file);
  ASSERT_EQ(tables.size(), 1 + c.version_resources) << "the version API's view and one per resource";
  for (const VersionTable& table : tables) {
    EXPECT_EQ(table.texts, c.texts) << Narrow(table.where) << ", table " << Narrow(table.translation);
    EXPECT_EQ(table.file_version_high, (2027u << 16) | 1u) << Narrow(table.where);
    EXPECT_EQ(table.file_version_low, (4u << 16) | 77u) << Narrow(table.where);
    EXPECT_EQ(table.product_version_high, (2027u << 16) | 1u) << Narrow(table.where);
    EXPECT_EQ(table.product_version_low, 0u) << Narrow(table.where);
  }

  const std::vector<IconMade> icons = MakeIcons(file);
  ASSERT_EQ(icons.size(), 3u);
  const int expected_sizes[] = {32, 16, 256};
  for (std::size_t index = 0; index < icons.size(); ++index) {
    EXPECT_EQ(icons[index].width, expected_sizes[index]);
    EXPECT_TRUE(icons[index].made) << icons[index].width << "x" << icons[index].height;
  }

  const LoadedModule vendor = LoadFixture(c.file_name);
  const LoadedModule stub = LoadFixture(L"installer_stub.exe");
  ASSERT_TRUE(vendor && stub);
  EXPECT_EQ(ResourceBytes(vendor.get(), RT_MANIFEST, MAKEINTRESOURCEW(1)),
            ResourceBytes(stub.get(), RT_MANIFEST, MAKEINTRESOURCEW(1)));
  // The group's images are the vendor's alone: the installer's own 16-pixel image is gone.
  EXPECT_EQ(FindResourceW(vendor.get(), MAKEINTRESOURCEW(4), RT_ICON), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Installers, VendorInstallerTest,
    testing::Values(VendorCase{L"vendor_installer.exe",
                               {{L"ProductName", L"Halvex Studio"},
                                {L"CompanyName", L"Halvex Ltd."},
                                {L"FileDescription", L"Halvex Studio setup"},
                                {L"LegalCopyright", L"Copyright 2026 Halvex Ltd."},
                                {L"ProductVersion", L"2027.1"},
                                {L"FileVersion", L"2027.1.4.77"},
                                {L"OriginalFilename", L"vendor_installer.exe"},
                                {L"InternalName", L"installer"}},
                               1},
                    // Windows reads the version resource of the language it prefers, not the first.
                    VendorCase{L"vendor_two_languages_installer.exe",
                               WithOriginalFilename(kBuildSystemTexts, L"vendor_two_languages_installer.exe"), 2},
                    // A German table before the English one the translation names.
                    VendorCase{L"vendor_two_tables_installer.exe",
                               WithOriginalFilename(kBuildSystemTexts, L"vendor_two_tables_installer.exe"), 1},
                    // "productname" is found by the version API as "ProductName" is.
                    VendorCase{L"vendor_lower_case_keys_installer.exe",
                               WithOriginalFilename(kBuildSystemTexts, L"vendor_lower_case_keys_installer.exe"), 1}),
    [](const testing::TestParamInfo<VendorCase>& info) {
      std::string name = Narrow(info.param.file_name);
      return name.substr(0, name.find('.'));
    });

// The Windows tool takes its arguments as UTF-16: a text with an unpaired surrogate is not text
// there either, and is refused as the Linux tool refuses bytes that are not UTF-8.
TEST(WindowsToolTest, RefusesAVendorTextWithAnUnpairedSurrogate) {
  TemporaryDirectory folder(L"surrogate");
  const std::wstring tool = ProgramDirectory() + L"drelix-pack.exe";
  const std::wstring fixtures = ProgramDirectory() + L"payload_fixtures\\";
  const auto pack = [&](const std::wstring& product_name, const std::wstring& output) {
    return RunChild(tool, L"drelix-pack.exe --archive \"" + fixtures + L"archive.bin\" --setup \"" + fixtures +
                              L"program.bin\" --setup-form plain --output \"" + output + L"\" --product-name \"" +
                              product_name + L"\"");
  };
  const ChildResult refused = pack(std::wstring(L"Halvex ") + wchar_t(0xD800) + L" Studio", folder / L"refused.exe");
  ASSERT_TRUE(refused.started);
  EXPECT_EQ(refused.exit_code, 1u);
  EXPECT_FALSE(PathExists(folder / L"refused.exe"));
  const ChildResult packed =
      pack(std::wstring(L"Halvex ") + wchar_t(0xD83D) + wchar_t(0xDE00) + L" Studio", folder / L"packed.exe");
  ASSERT_TRUE(packed.started);
  EXPECT_EQ(packed.exit_code, 0u) << "a surrogate pair is text";
  const std::vector<VersionTable> tables = ReadVersionTables(folder / L"packed.exe");
  ASSERT_FALSE(tables.empty());
  EXPECT_EQ(tables[0].texts.at(L"ProductName"),
            std::wstring(L"Halvex ") + wchar_t(0xD83D) + wchar_t(0xDE00) + L" Studio");
}

}  // namespace
