// The payload resource convention: which names are taken, which are refused with which code, and
// what lands in the scratch directory. Fixture modules, one resource script each, are loaded as
// data files so the extraction runs on real resources and both halves of its outcome can be read.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "payload/payload_extraction.h"
#include "support/test_files.h"

namespace {

using Names = std::vector<std::wstring>;

// The collector on its own: the prefix rules, the name checks and the codes, for names a resource
// script cannot carry (lower case, non-ASCII).
struct NameCase {
  std::wstring name;
  enum Kind { kArchive, kSetup, kRefused } kind;
  uint32_t status;
};

// A collector with what it found.
struct CollectorUnderTest {
  FoundPayload found;
  PayloadResourceCollector collector{found};
};

TEST(PayloadResourceCollectorTest, SortsNamesByPrefixAndRefusesTheRest) {
  const std::wstring drelix_259 = L"drelix" + std::wstring(253, L'x');
  const NameCase cases[] = {
      {L"drelix.packed.7z", NameCase::kArchive, 0},
      {L"DrElIx", NameCase::kArchive, 0},
      {L"drelixsetup", NameCase::kArchive, 0},  // the archive prefix is tested first
      {L"setup", NameCase::kSetup, 0},
      {L"SETUP.EX_", NameCase::kSetup, 0},
      {L"setup..exe", NameCase::kSetup, 0},
      {drelix_259, NameCase::kArchive, 0},
      {drelix_259 + L"x", NameCase::kRefused, ERROR_FILENAME_EXCED_RANGE},
      {L"setu", NameCase::kRefused, ERROR_INVALID_DATA},
      {L"xsetup", NameCase::kRefused, ERROR_INVALID_DATA},
      {L" drelix", NameCase::kRefused, ERROR_INVALID_DATA},
      // Only A-Z fold: not the long s, which Unicode folds to "s", nor the dotted capital I.
      {L"\u017Fetup", NameCase::kRefused, ERROR_INVALID_DATA},
      {L"DREL\u0130X", NameCase::kRefused, ERROR_INVALID_DATA},
      {L"setup\\..\\..\\evil.exe", NameCase::kRefused, ERROR_INVALID_DATA},
      {L"drelix/../archive.7z", NameCase::kRefused, ERROR_INVALID_DATA},
      {L"setup.exe:stream", NameCase::kRefused, ERROR_INVALID_DATA},
      {L"drelix:", NameCase::kRefused, ERROR_INVALID_DATA},
  };
  static const char payload[] = "bytes";
  for (const NameCase& c : cases) {
    CollectorUnderTest collected;
    const std::string label = Narrow(c.name);

    EXPECT_EQ(collected.collector.VisitResource(c.name.c_str(), MemoryBlock{payload, 5}), c.kind != NameCase::kRefused)
        << label;
    EXPECT_EQ(collected.found.status, c.status) << label;
    EXPECT_EQ(collected.found.archive_block.size, c.kind == NameCase::kArchive ? 5u : 0u) << label;
    EXPECT_EQ(collected.found.setup_block.size, c.kind == NameCase::kSetup ? 5u : 0u) << label;
    if (c.kind == NameCase::kArchive) {
      EXPECT_EQ(std::wstring(collected.found.archive_name.units), c.name);
    }
    if (c.kind == NameCase::kSetup) {
      EXPECT_EQ(std::wstring(collected.found.setup_name.units), c.name);
    }
  }
}

TEST(PayloadResourceCollectorTest, SecondOfAKindIsRefusedAndTheFirstKept) {
  CollectorUnderTest collected;
  static const char first[] = "first";
  static const char second[] = "second";

  EXPECT_TRUE(collected.collector.VisitResource(L"SETUP.A", MemoryBlock{first, 5}));
  EXPECT_FALSE(collected.collector.VisitResource(L"SETUP.B", MemoryBlock{second, 6}));
  EXPECT_EQ(collected.found.status, static_cast<uint32_t>(ERROR_TOO_MANY_NAMES));
  EXPECT_EQ(std::wstring(collected.found.setup_name.units), L"SETUP.A");
  EXPECT_EQ(collected.found.setup_block.data, first);
}

// One fixture installer per row. A null path name means the output path stays empty; an empty one
// means it names the scratch directory itself. files lists what the scratch directory must hold
// afterwards, each with the fixture file whose bytes it must have.
struct ExtractionCase {
  const wchar_t* fixture;
  uint32_t exit_code;
  uint32_t windows_error = 0;
  const wchar_t* archive_type = L"";
  const wchar_t* setup_type = L"";
  const wchar_t* archive_path_name = nullptr;
  const wchar_t* setup_path_name = nullptr;
  std::vector<std::pair<std::wstring, const wchar_t*>> files = {};
};

// One extraction into a scratch directory created at scratch_text, with every output kept.
struct ExtractionRun {
  ExtractionRun(HMODULE module, const std::wstring& scratch_text) {
    created = CreateDirectoryW(scratch_text.c_str(), nullptr) && BoundedCopy(scratch, scratch_text.c_str());
    if (created) outcome = ExtractPayloadResources(module, scratch, extracted);
  }

  bool created = false;
  PathBuffer scratch;
  ExtractedPayload extracted;
  ExitOutcome outcome{~0u, ~0u};
};

class ExtractPayloadResourcesTest : public testing::TestWithParam<ExtractionCase> {};

TEST_P(ExtractPayloadResourcesTest, WritesExactlyWhatTheConventionSays) {
  const ExtractionCase& c = GetParam();
  LoadedModule module = LoadFixture(c.fixture);
  ASSERT_TRUE(module) << "fixture not loaded, error " << GetLastError();

  // The scratch directory sits alone in its parent, so a file written outside it shows up there.
  TemporaryDirectory parent(L"extract");
  const std::wstring scratch_text = parent / L"QV_00000.tmp\\";
  const ExtractionRun run(module.get(), scratch_text);
  ASSERT_TRUE(run.created);

  EXPECT_EQ(run.outcome.exit_code, c.exit_code);
  EXPECT_EQ(run.outcome.windows_error, c.windows_error);
  EXPECT_EQ(std::wstring(run.extracted.archive_type.units), c.archive_type);
  EXPECT_EQ(std::wstring(run.extracted.setup_type.units), c.setup_type);
  auto expected_path = [&](const wchar_t* name) { return name == nullptr ? std::wstring() : scratch_text + name; };
  EXPECT_EQ(std::wstring(run.extracted.archive_path.units), expected_path(c.archive_path_name));
  EXPECT_EQ(std::wstring(run.extracted.setup_path.units), expected_path(c.setup_path_name));

  EXPECT_EQ(ListDirectory(parent.Path()), Names{L"QV_00000.tmp"});
  Names expected_names;
  for (const auto& [name, source] : c.files) {
    expected_names.push_back(name);
    EXPECT_EQ(ReadFileBytes(scratch_text + name), PayloadFixture(source)) << Narrow(name);
  }
  EXPECT_EQ(ListDirectory(scratch_text), expected_names);
}

const std::vector<std::pair<std::wstring, const wchar_t*>> kArchiveAndSetup = {{L"DRELIX.PACKED.7Z", L"archive.bin"},
                                                                               {L"setup.exe", L"setup.bin"}};

INSTANTIATE_TEST_SUITE_P(Fixtures, ExtractPayloadResourcesTest,
                         testing::Values(
                             // The cabinet is expanded into setup.exe and then deleted.
                             ExtractionCase{.fixture = L"payload_standard.dll",
                                            .exit_code = EXIT_OK,
                                            .archive_type = L"B7",
                                            .setup_type = L"BL",
                                            .archive_path_name = L"DRELIX.PACKED.7Z",
                                            .setup_path_name = L"setup.exe",
                                            .files = kArchiveAndSetup},
                             // A plain setup program is written as setup.exe whatever its name; an archive of another
                             // type is written unchanged.
                             ExtractionCase{.fixture = L"payload_plain_setup.dll",
                                            .exit_code = EXIT_OK,
                                            .archive_type = L"BL",
                                            .setup_type = L"BN",
                                            .archive_path_name = L"DRELIX.DATA",
                                            .setup_path_name = L"setup.exe",
                                            .files = {{L"DRELIX.DATA", L"archive.bin"}, {L"setup.exe", L"setup.bin"}}},
                             // A patch keeps its own name; the driver turns it into setup.exe later.
                             ExtractionCase{
                                 .fixture = L"payload_patch_setup.dll",
                                 .exit_code = EXIT_OK,
                                 .archive_type = L"B7",
                                 .setup_type = L"B7",
                                 .archive_path_name = L"DRELIX.PACKED.7Z",
                                 .setup_path_name = L"SETUP.PATCH",
                                 .files = {{L"DRELIX.PACKED.7Z", L"archive.bin"}, {L"SETUP.PATCH", L"setup.bin"}}},
                             ExtractionCase{.fixture = L"payload_integer_ids.dll",
                                            .exit_code = EXIT_OK,
                                            .archive_type = L"B7",
                                            .setup_type = L"BN",
                                            .archive_path_name = L"DRELIX.PACKED.7Z",
                                            .setup_path_name = L"setup.exe",
                                            .files = kArchiveAndSetup},
                             // A failed pass decides the code by whether the archive was found in an earlier pass.
                             ExtractionCase{.fixture = L"payload_truncated_prefix.dll",
                                            .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                                            .windows_error = ERROR_INVALID_DATA,
                                            .archive_type = L"B7"},
                             ExtractionCase{.fixture = L"payload_preceded_prefix.dll",
                                            .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                                            .windows_error = ERROR_INVALID_DATA},
                             ExtractionCase{.fixture = L"payload_second_archive_same_type.dll",
                                            .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                                            .windows_error = ERROR_TOO_MANY_NAMES},
                             ExtractionCase{.fixture = L"payload_second_archive_later_type.dll",
                                            .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                                            .windows_error = ERROR_TOO_MANY_NAMES,
                                            .archive_type = L"B7"},
                             ExtractionCase{.fixture = L"payload_name_too_long.dll",
                                            .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                                            .windows_error = ERROR_FILENAME_EXCED_RANGE},
                             ExtractionCase{.fixture = L"payload_unsafe_name.dll",
                                            .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                                            .windows_error = ERROR_INVALID_DATA},
                             // Missing resources are found out before anything is written.
                             ExtractionCase{.fixture = L"installer_stub.exe",
                                            .exit_code = EXIT_ARCHIVE_EXTRACTION_FAILED,
                                            .windows_error = ERROR_FILE_NOT_FOUND},
                             ExtractionCase{.fixture = L"payload_archive_only.dll",
                                            .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                                            .windows_error = ERROR_FILE_NOT_FOUND,
                                            .archive_type = L"B7"},
                             ExtractionCase{.fixture = L"payload_zero_length.dll",
                                            .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                                            .windows_error = ERROR_FILE_NOT_FOUND,
                                            .archive_type = L"B7"},
                             // A 256-character name is a valid name, but the path to it does not fit: the path is left
                             // as the scratch directory and nothing is written.
                             ExtractionCase{.fixture = L"payload_name_fills_path.dll",
                                            .exit_code = EXIT_PATH_TOO_LONG,
                                            .archive_type = L"B7",
                                            .setup_type = L"BN",
                                            .archive_path_name = L""},
                             // The cabinet is written to the expansion target, which cannot then be opened for writing:
                             // no setup program remains, and the path names where it would have been.
                             ExtractionCase{.fixture = L"payload_cabinet_named_setup_exe.dll",
                                            .exit_code = EXIT_SETUP_EXTRACTION_FAILED,
                                            .archive_type = L"B7",
                                            .setup_type = L"BL",
                                            .archive_path_name = L"DRELIX.PACKED.7Z",
                                            .setup_path_name = L"setup.exe",
                                            .files = {{L"DRELIX.PACKED.7Z", L"archive.bin"}}}),
                         [](const testing::TestParamInfo<ExtractionCase>& info) {
                           const std::string name = Narrow(info.param.fixture);
                           return name.substr(0, name.find('.'));
                         });

// A write that fails for real: the scratch directory on a 1 MiB volume, and a payload file twice
// that size. The file that does not fit is gone, its error is the volume's, and the code names
// which file it was. Run through with_full_volume.sh, which provides the volume.
TEST(ExtractionFullVolumeTest, WriteThatDoesNotFitEndsWithTheCodeOfItsFile) {
  std::string unavailable_reason;
  const std::wstring root = FullVolumeRoot(unavailable_reason);
  if (root.empty()) GTEST_SKIP() << "no full volume: " << unavailable_reason;
  const struct {
    const wchar_t* fixture;
    uint32_t exit_code;
    Names left;
  } cases[] = {
      {L"payload_large_archive.dll", EXIT_ARCHIVE_EXTRACTION_FAILED, {}},
      {L"payload_large_setup.dll", EXIT_SETUP_WRITE_FAILED, {L"DRELIX.PACKED.7Z"}},
  };
  for (const auto& c : cases) {
    LoadedModule module = LoadFixture(c.fixture);
    ASSERT_TRUE(module) << Narrow(c.fixture);
    const std::wstring scratch_text = root + L"QV_00000.tmp\\";
    const ExtractionRun run(module.get(), scratch_text);
    ASSERT_TRUE(run.created);
    EXPECT_EQ(run.outcome.exit_code, c.exit_code) << Narrow(c.fixture);
    EXPECT_EQ(run.outcome.windows_error, static_cast<uint32_t>(ERROR_DISK_FULL)) << Narrow(c.fixture);
    EXPECT_EQ(ListDirectory(scratch_text), c.left) << Narrow(c.fixture);
    EXPECT_TRUE(RemoveTree(scratch_text));
  }
}

}  // namespace
