// The replay of the installer's payload search that --inspect reports, case by case against the
// run-time rules, and the name checks packing applies.
#include <gtest/gtest.h>

#include "conventions/exit_outcome.h"
#include "extraction/payload_rules.h"

namespace {

// The Windows errors the installer's search reports.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kInvalidData = 13;
constexpr std::uint32_t kTooManyNames = 68;
constexpr std::uint32_t kFilenameTooLong = 206;

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
    testing::Values(SearchCase{.name = "Standard",
                               .resources = {Named("B7", u"DRELIX.PACKED.7Z"), Named("BL", u"SETUP.EX_")},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BL"},
                    SearchCase{.name = "PrefixesFoldOnlyAToZ",
                               .resources = {Named("BN", u"drelix.data"), Named("BN", u"Setup")},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "BN",
                               .setup_type = "BN"},
                    SearchCase{.name = "PatchInTheArchivesType",
                               .resources = {Named("B7", u"DRELIX"), Named("B7", u"SETUP.PATCH")},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "B7"},
                    SearchCase{.name = "Nothing",
                               .resources = {},
                               .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                               .windows_error = kFileNotFound,
                               .archive_type = "",
                               .setup_type = ""},
                    SearchCase{.name = "ArchiveOnly",
                               .resources = {Named("B7", u"DRELIX")},
                               .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                               .windows_error = kFileNotFound,
                               .archive_type = "B7",
                               .setup_type = ""},
                    SearchCase{.name = "TruncatedPrefix",
                               .resources = {Named("B7", u"DRELIX"), Named("BL", u"SETU.EX_")},
                               .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                               .windows_error = kInvalidData,
                               .archive_type = "B7",
                               .setup_type = ""},
                    SearchCase{.name = "PrecededPrefix",
                               .resources = {Named("B7", u"XDRELIX"), Named("BL", u"SETUP.EX_")},
                               .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                               .windows_error = kInvalidData,
                               .archive_type = "",
                               .setup_type = ""},
                    SearchCase{.name = "SecondArchiveSameType",
                               .resources = {Named("B7", u"DRELIX.A"), Named("B7", u"DRELIX.B"), Named("BL", u"SETUP")},
                               .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                               .windows_error = kTooManyNames,
                               .archive_type = "B7",
                               .setup_type = ""},
                    SearchCase{.name = "SecondArchiveLaterType",
                               .resources = {Named("B7", u"DRELIX.A"), Named("BL", u"SETUP"), Named("BN", u"DRELIX.B")},
                               .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                               .windows_error = kTooManyNames,
                               .archive_type = "B7",
                               .setup_type = "BL"},
                    SearchCase{.name = "NameOf260",
                               .resources = {Named("B7", kLongName), Named("BL", u"SETUP")},
                               .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                               .windows_error = kFilenameTooLong,
                               .archive_type = "",
                               .setup_type = ""},
                    SearchCase{.name = "Separator",
                               .resources = {Named("B7", u"DRELIX\\..\\X"), Named("BL", u"SETUP")},
                               .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                               .windows_error = kInvalidData,
                               .archive_type = "",
                               .setup_type = ""},
                    SearchCase{.name = "Colon",
                               .resources = {Named("B7", u"DRELIX"), Named("BL", u"SETUP:STREAM")},
                               .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                               .windows_error = kInvalidData,
                               .archive_type = "B7",
                               .setup_type = ""},
                    // A zero-length resource ends its type's pass: the setup after it is never seen.
                    SearchCase{
                        .name = "ZeroLengthEndsThePass",
                        .resources = {Named("B7", u"DRELIX"), Named("BL", u"SETUP.A", 0), Named("BL", u"SETUP.B")},
                        .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                        .windows_error = kFileNotFound,
                        .archive_type = "B7",
                        .setup_type = ""},
                    // Integer ids come after names and end the pass without an error.
                    SearchCase{.name = "IntegerIdEndsThePass",
                               .resources = {Named("B7", u"DRELIX"), Id("B7", 7), Named("BN", u"SETUP.EXE")},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BN"},
                    SearchCase{.name = "CabinetNamedSetupExe",
                               .resources = {Named("B7", u"DRELIX"), Named("BL", u"Setup.Exe")},
                               .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BL"},
                    SearchCase{.name = "PlainNamedSetupExe",
                               .resources = {Named("B7", u"DRELIX"), Named("BN", u"SETUP.EXE")},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BN"},
                    // Names written as files must fit beside the shortest scratch folder, C:\QV_XXXXX.tmp\.
                    SearchCase{.name = "ArchiveNameOf243",
                               .resources = {Named("B7", kLongestFile), Named("BL", u"SETUP")},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BL"},
                    SearchCase{.name = "ArchiveNameOf244",
                               .resources = {Named("B7", kLongestFile + u"A"), Named("BL", u"SETUP")},
                               .exit_code = EXIT_PATH_TOO_LONG,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BL"},
                    SearchCase{.name = "CabinetNameOf244",
                               .resources = {Named("B7", u"DRELIX"), Named("BL", u"SETUP" + std::u16string(239, u'A'))},
                               .exit_code = EXIT_PATH_TOO_LONG,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BL"},
                    SearchCase{.name = "PlainSetupNameOf259IsNeverAFileName",
                               .resources = {Named("B7", u"DRELIX"), Named("BN", u"SETUP" + std::u16string(254, u'A'))},
                               .exit_code = EXIT_OK,
                               .windows_error = 0,
                               .archive_type = "B7",
                               .setup_type = "BN"}),
    [](const testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST(PayloadNameTest, PackingRefusesWhatTheRunWouldNot) {
  EXPECT_EQ(CheckArchiveName("drelix.packed.7z"), std::nullopt);
  EXPECT_EQ(CheckArchiveName("DRELIX" + std::string(237, 'A')), std::nullopt);
  EXPECT_EQ(*CheckArchiveName("DRELIX" + std::string(238, 'A')),
            "--archive-name \"DRELIX" + std::string(238, 'A') +
                "\" is longer than 243 characters: the installer writes it as a file in its scratch folder, and even "
                "in the shortest one (C:\\QV_00000.tmp\\) the path would pass 259 characters, so every run would end "
                "with exit code 108");
  // A plain setup program is written as setup.exe, so its resource name only has to fit the name buffer.
  EXPECT_EQ(CheckSetupName("SETUP" + std::string(254, 'A'), SetupForm::kPlain), std::nullopt);
  EXPECT_EQ(*CheckSetupName("SETUP" + std::string(255, 'A'), SetupForm::kPlain),
            "--setup-name \"SETUP" + std::string(255, 'A') + "\" is longer than 259 characters");
  EXPECT_NE(CheckSetupName("SETUP" + std::string(239, 'A'), SetupForm::kCabinet)->find("exit code 108"),
            std::string::npos);
  EXPECT_EQ(*CheckSetupName("SETUP.EXE.", SetupForm::kCabinet),
            "--setup-name \"SETUP.EXE.\" must be a plain file name made of letters, digits and . _ + ~ -, not ending "
            "in a dot");
  EXPECT_EQ(*CheckSetupName("SÉTUP", SetupForm::kPlain), "--setup-name \"SÉTUP\" must begin with \"setup\"");
  EXPECT_EQ(*CheckSetupName("SETUP.EXE", SetupForm::kPatch),
            "a patch setup cannot be named \"SETUP.EXE\": that is the name the installer gives the setup program it "
            "makes from it");
  EXPECT_EQ(CheckSetupName("SETUP.EXE", SetupForm::kPlain), std::nullopt);
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

// RCDATA 1 as packing writes it and as the installer takes it: whole UTF-16 units ending in a zero.
TEST(PreviousVersionTest, TextRoundTripsAndMalformedBytesGiveNone) {
  EXPECT_EQ(PreviousVersionBytes("1.2"), (std::vector<std::uint8_t>{'1', 0, '.', 0, '2', 0, 0, 0}));
  EXPECT_EQ(PreviousVersionText(PreviousVersionBytes("1.2 beta")), u"1.2 beta");
  EXPECT_EQ(PreviousVersionText({0, 0}), u"");
  for (const std::vector<std::uint8_t>& malformed :
       std::vector<std::vector<std::uint8_t>>{{}, {0}, {'1', 0, 0}, {'1', 0, '2', 0}, {'1', 0, 0, 1}}) {
    EXPECT_EQ(PreviousVersionText(malformed), std::nullopt) << malformed.size() << " bytes";
  }
  EXPECT_TRUE(IsPreviousVersionResource(ResourceKey::Id(10), ResourceKey::Id(1)));
  EXPECT_FALSE(IsPreviousVersionResource(ResourceKey::Id(10), ResourceKey::Id(2)));
  EXPECT_NE(CheckStubResource(ResourceKey::Id(10), ResourceKey::Id(1))->find("previous version"), std::string::npos);
  EXPECT_NE(CheckStubResource(ResourceKey::Name(u"bl"), ResourceKey::Id(1))->find("type BL"), std::string::npos);
  EXPECT_EQ(CheckStubResource(ResourceKey::Id(24), ResourceKey::Id(1)), std::nullopt);
}

}  // namespace
