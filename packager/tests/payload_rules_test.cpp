// The replay of the installer's payload search that --inspect reports, case by case against the
// run-time rules, and the name checks packing applies.
#include <gtest/gtest.h>

#include "payload_rules.h"

namespace {

PayloadResource Named(std::string type, std::u16string name, std::uint32_t size = 10) {
  return {std::move(type), std::move(name), 0, size};
}
PayloadResource Id(std::string type, std::uint16_t id) { return {std::move(type), {}, id, 10}; }

struct SearchCase {
  const char* name;
  std::vector<PayloadResource> resources;
  std::uint32_t exit_code;
  std::uint32_t windows_error;
  const char* archive_type;  // where the archive was taken from, "" when none
  const char* setup_type;
};

class ExtractionVerdictTest : public testing::TestWithParam<SearchCase> {};

TEST_P(ExtractionVerdictTest, MatchesTheInstallersSearch) {
  const SearchCase& c = GetParam();
  const ExtractionVerdict verdict = JudgeExtraction(c.resources);
  EXPECT_EQ(verdict.exit_code, c.exit_code) << verdict.reason;
  EXPECT_EQ(verdict.windows_error, c.windows_error) << verdict.reason;
  EXPECT_EQ(verdict.reason.empty(), c.exit_code == 0);
  EXPECT_EQ(verdict.archive ? verdict.archive->type : "", c.archive_type);
  EXPECT_EQ(verdict.setup ? verdict.setup->type : "", c.setup_type);
}

const std::u16string kLongName = u"DRELIX" + std::u16string(254, u'A');     // 260 characters
const std::u16string kLongestFile = u"DRELIX" + std::u16string(237, u'A');  // 243 characters

INSTANTIATE_TEST_SUITE_P(
    Payloads, ExtractionVerdictTest,
    testing::Values(
        SearchCase{"Standard", {Named("B7", u"DRELIX.PACKED.7Z"), Named("BL", u"SETUP.EX_")}, 0, 0, "B7", "BL"},
        SearchCase{"PrefixesFoldOnlyAToZ", {Named("BN", u"drelix.data"), Named("BN", u"Setup")}, 0, 0, "BN", "BN"},
        SearchCase{"PatchInTheArchivesType", {Named("B7", u"DRELIX"), Named("B7", u"SETUP.PATCH")}, 0, 0, "B7", "B7"},
        SearchCase{"Nothing", {}, 112, 2, "", ""},
        SearchCase{"ArchiveOnly", {Named("B7", u"DRELIX")}, 115, 2, "B7", ""},
        SearchCase{"TruncatedPrefix", {Named("B7", u"DRELIX"), Named("BL", u"SETU.EX_")}, 115, 13, "B7", ""},
        SearchCase{"PrecededPrefix", {Named("B7", u"XDRELIX"), Named("BL", u"SETUP.EX_")}, 112, 13, "", ""},
        SearchCase{"SecondArchiveSameType",
                   {Named("B7", u"DRELIX.A"), Named("B7", u"DRELIX.B"), Named("BL", u"SETUP")},
                   112,
                   68,
                   "B7",
                   ""},
        SearchCase{"SecondArchiveLaterType",
                   {Named("B7", u"DRELIX.A"), Named("BL", u"SETUP"), Named("BN", u"DRELIX.B")},
                   115,
                   68,
                   "B7",
                   "BL"},
        SearchCase{"NameOf260", {Named("B7", kLongName), Named("BL", u"SETUP")}, 112, 206, "", ""},
        SearchCase{"Separator", {Named("B7", u"DRELIX\\..\\X"), Named("BL", u"SETUP")}, 112, 13, "", ""},
        SearchCase{"Colon", {Named("B7", u"DRELIX"), Named("BL", u"SETUP:STREAM")}, 115, 13, "B7", ""},
        // A zero-length resource ends its type's pass: the setup after it is never seen.
        SearchCase{"ZeroLengthEndsThePass",
                   {Named("B7", u"DRELIX"), Named("BL", u"SETUP.A", 0), Named("BL", u"SETUP.B")},
                   115,
                   2,
                   "B7",
                   ""},
        // Integer ids come after names and end the pass without an error.
        SearchCase{
            "IntegerIdEndsThePass", {Named("B7", u"DRELIX"), Id("B7", 7), Named("BN", u"SETUP.EXE")}, 0, 0, "B7", "BN"},
        SearchCase{"CabinetNamedSetupExe", {Named("B7", u"DRELIX"), Named("BL", u"Setup.Exe")}, 115, 0, "B7", "BL"},
        SearchCase{"PlainNamedSetupExe", {Named("B7", u"DRELIX"), Named("BN", u"SETUP.EXE")}, 0, 0, "B7", "BN"},
        // Names written as files must fit beside the shortest scratch folder, C:\QV_XXXXX.tmp\.
        SearchCase{"ArchiveNameOf243", {Named("B7", kLongestFile), Named("BL", u"SETUP")}, 0, 0, "B7", "BL"},
        SearchCase{"ArchiveNameOf244", {Named("B7", kLongestFile + u"A"), Named("BL", u"SETUP")}, 108, 0, "B7", "BL"},
        SearchCase{"CabinetNameOf244",
                   {Named("B7", u"DRELIX"), Named("BL", u"SETUP" + std::u16string(239, u'A'))},
                   108,
                   0,
                   "B7",
                   "BL"},
        SearchCase{"PlainSetupNameOf259IsNeverAFileName",
                   {Named("B7", u"DRELIX"), Named("BN", u"SETUP" + std::u16string(254, u'A'))},
                   0,
                   0,
                   "B7",
                   "BN"}),
    [](const testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST(PayloadNameTest, PackingRefusesWhatTheRunWouldNot) {
  EXPECT_EQ(CheckPayloadName("--archive-name", "drelix.packed.7z", kArchivePrefix, true), std::nullopt);
  EXPECT_EQ(CheckPayloadName("--archive-name", "DRELIX" + std::string(237, 'A'), kArchivePrefix, true), std::nullopt);
  EXPECT_EQ(
      *CheckPayloadName("--archive-name", "DRELIX" + std::string(238, 'A'), kArchivePrefix, true),
      "--archive-name \"DRELIX" + std::string(238, 'A') +
          "\" is longer than 243 characters: the installer writes it as a file in its scratch folder, and even in "
          "the shortest one (C:\\QV_00000.tmp\\) the path would pass 259 characters, so every run would end with "
          "exit code 108");
  // A plain setup program is written as setup.exe, so its resource name only has to fit the name buffer.
  EXPECT_EQ(CheckPayloadName("--setup-name", "SETUP" + std::string(254, 'A'), kSetupPrefix, false), std::nullopt);
  EXPECT_EQ(*CheckPayloadName("--setup-name", "SETUP" + std::string(255, 'A'), kSetupPrefix, false),
            "--setup-name \"SETUP" + std::string(255, 'A') + "\" is longer than 259 characters");
  EXPECT_EQ(*CheckPayloadName("--setup-name", "SETUP.EXE.", kSetupPrefix, true),
            "--setup-name \"SETUP.EXE.\" must be a plain file name made of letters, digits and . _ + ~ -, not ending "
            "in a dot");
  EXPECT_EQ(*CheckPayloadName("--setup-name", "SÉTUP", kSetupPrefix, true),
            "--setup-name \"SÉTUP\" must begin with \"setup\"");
  EXPECT_EQ(*CheckSetupName("SETUP.EXE", SetupForm::patch),
            "a patch setup cannot be named \"SETUP.EXE\": that is the name the installer gives the setup program it "
            "makes from it");
  EXPECT_EQ(CheckSetupName("SETUP.EXE", SetupForm::plain), std::nullopt);
  EXPECT_EQ(UpperCase("drelix.packed-é"), "DRELIX.PACKED-é");
}

// The install command line holds 1039 characters; from a drive's root its fixed pieces leave room
// for exactly this much previous version, depending on the archive's name and type.
TEST(PayloadNameTest, PreviousVersionMustBeNonEmptyAndFitTheCommandLine) {
  EXPECT_EQ(ShortestInstallCommandLine("DRELIX.PACKED.7Z", "B7", "1.2.3.4"),
            "\"C:\\QV_00000.tmp\\setup.exe\" --install-archive=\"C:\\QV_00000.tmp\\DRELIX.PACKED.7Z\" "
            "--previous-version=\"1.2.3.4\"");
  EXPECT_NE(CheckPreviousVersion("", "DRELIX.PACKED.7Z", "B7")->find("is empty"), std::string::npos);
  EXPECT_EQ(CheckPreviousVersion("1.2.3.4", "DRELIX.PACKED.7Z", "B7"), std::nullopt);
  const auto longest = [](std::string_view archive_name, std::string_view type) {
    std::size_t length = 1;
    while (!CheckPreviousVersion(std::string(length + 1, '1'), archive_name, type)) ++length;
    return length;
  };
  EXPECT_EQ(longest("DRELIX.PACKED.7Z", "B7"), 1039u - 102u);
  EXPECT_EQ(longest("DRELIX.PACKED.7Z", "BN"), 1039u - 107u);
  EXPECT_EQ(longest("DRELIX" + std::string(237, 'A'), "B7"), 1039u - 329u);
  EXPECT_NE(CheckPreviousVersion(std::string(938, '1'), "DRELIX.PACKED.7Z", "B7")->find("exit code 105"),
            std::string::npos);
}

}  // namespace
