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
    EXPECT_EQ(setup_bytes, PayloadFixture(L"setup.bin"));
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
  EXPECT_EQ(ReadFileBytes(extracted.setup_path.units), PayloadFixture(L"setup.bin"));
}

INSTANTIATE_TEST_SUITE_P(Forms, PackagedInstallerTest,
                         testing::Values(
                             // The defaults: a 7z archive and a cabinet that expands into setup.exe.
                             PackagedCase{L"packaged_cabinet.exe",
                                          {L"B7/DRELIX.PACKED.7Z", L"BL/SETUP.EX_"},
                                          L"BL/SETUP.EX_",
                                          true,
                                          "(missing)",
                                          L"B7",
                                          L"BL",
                                          {L"DRELIX.PACKED.7Z", L"setup.exe"}},
                             // Names are stored upper-cased, whatever case they were given in.
                             PackagedCase{L"packaged_plain.exe",
                                          {L"BN/DRELIX.DATA", L"BN/SETUP.EXE"},
                                          L"BN/SETUP.EXE",
                                          false,
                                          "(missing)",
                                          L"BN",
                                          L"BN",
                                          {L"DRELIX.DATA", L"setup.exe"}},
                             // A patch is a second "B7" resource; the previous version is UTF-16 with its terminator.
                             PackagedCase{L"packaged_patch_renamed.exe",
                                          {L"B7/DRELIX.PACKED.7Z", L"B7/SETUP.DELTA"},
                                          L"B7/SETUP.DELTA",
                                          false,
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

}  // namespace
