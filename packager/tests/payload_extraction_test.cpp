// --extract and the verdicts behind it, on installers the tool packs and then edits as an attacker
// would: names that climb out, names Windows refuses, names Windows shortens, a setup program that
// is no program, a cabinet that does not expand. The installer's own extraction of the fixture
// modules is compared with --extract under Wine by tests/packaging/agreement_test.sh.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cabinet/cabinet_reader.h"
#include "cabinet/cabinet_writer.h"
#include "extraction/payload_extraction.h"
#include "extraction/setup_program_check.h"
#include "image/image_writer.h"
#include "inspect/installer_report.h"
#include "signature/sha256.h"
#include "stub_packing_test.h"

namespace {

std::vector<std::filesystem::path> Listing(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Replaces the UTF-16 name `from` in the installer's resource directory by `to`, of the same length.
void Rename(Bytes& installer, std::u16string_view from, std::u16string_view to) {
  ASSERT_EQ(from.size(), to.size());
  const auto bytes = [](std::u16string_view text) {
    Bytes result;
    for (char16_t unit : text)
      result.insert(result.end(), {static_cast<std::uint8_t>(unit), static_cast<std::uint8_t>(unit >> 8)});
    return result;
  };
  const Bytes old_name = bytes(from);
  const Bytes new_name = bytes(to);
  const auto found = std::search(installer.begin(), installer.end(), old_name.begin(), old_name.end());
  ASSERT_NE(found, installer.end());
  std::copy(new_name.begin(), new_name.end(), found);
}

class ExtractionTest : public StubPackingTest {
 protected:
  // Packs the build's stub with a 7z-signed archive and `setup` in `form`, names as given.
  Bytes Packed(const Bytes& setup, const char* form, const char* archive_name, const char* setup_name) {
    Bytes archive(3000, 'a');
    std::copy(std::begin(k7zSignature), std::end(k7zSignature), archive.begin());
    PackOptions options;
    options.archive = Input("archive.7z", archive).string();
    options.setup = Input("setup.exe", setup).string();
    options.setup_form = form;
    options.archive_name = archive_name;
    options.setup_name = setup_name;
    options.output = (directory_ / "installer.exe").string();
    std::ostringstream errors;
    EXPECT_EQ(Pack(options, stub_, errors), 0) << errors.str();
    return ReadBytes(options.output);
  }

  // --inspect's and --extract's exit codes, with what --inspect says of the extraction and what
  // --extract says on its error stream.
  struct Outcome {
    int inspect = -1;
    int extract = -1;
    std::string report;
    std::string messages;
  };
  Outcome Run(const Bytes& installer) {
    WriteBytes(directory_ / "edited.exe", installer);
    Outcome outcome;
    std::ostringstream report;
    std::ostringstream errors;
    outcome.inspect = ReportInstaller((directory_ / "edited.exe").string(), "", report, errors);
    outcome.report = report.str();
    outcome.extract = ExtractInstaller((directory_ / "edited.exe").string(), (directory_ / "out").string(), errors);
    outcome.messages = errors.str();
    return outcome;
  }
};

TEST_F(ExtractionTest, WritesWhatTheInstallerWritesAndRefusesWhatItRefuses) {
  const Bytes program = SmallestProgramImage();
  const struct Case {
    const char* what;
    const char* form;
    const char* archive_name;
    const char* setup_name;
    std::u16string from;  // a name edited in the packed installer
    std::u16string to;
    int exit_code;        // of --inspect and --extract alike
    const char* message;  // in --inspect's report and --extract's message; none when written
    std::vector<std::filesystem::path> written;
  } cases[] = {
      {"cabinet expanded",
       "cabinet",
       "DRELIX.PACKED.7Z",
       "SETUP.EX_",
       u"",
       u"",
       0,
       "",
       {"DRELIX.PACKED.7Z", "setup.exe"}},
      {"patch as it is",
       "patch",
       "DRELIX.PACKED.7Z",
       "SETUP.PATCH",
       u"",
       u"",
       0,
       "",
       {"DRELIX.PACKED.7Z", "SETUP.PATCH"}},
      {"trailing dots and spaces dropped",
       "plain",
       "DRELIX.PACKED.7Z",
       "SETUP.EXE",
       u"DRELIX.PACKED.7Z",
       u"DRELIX.PACKED. .",
       0,
       "",
       {"DRELIX.PACKED", "setup.exe"}},
      {"climbs out with slashes",
       "plain",
       "DRELIX.PACKED.7Z",
       "SETUP.EXE",
       u"DRELIX.PACKED.7Z",
       u"DRELIX/../../X7Z",
       1,
       "would fail with exit code 112 (Windows error 13)",
       {}},
      {"climbs out with backslashes",
       "cabinet",
       "DRELIX.PACKED.7Z",
       "SETUP.EX_",
       u"SETUP.EX_",
       u"SETUP\\..\\",
       1,
       "would fail with exit code 115 (Windows error 13)",
       {}},
      {"a character Windows refuses",
       "patch",
       "DRELIX.PACKED.7Z",
       "SETUP.PATCH",
       u"SETUP.PATCH",
       u"SETUP.PATC?",
       1,
       "would fail with exit code 116 (Windows error 123)",
       {}},
      {"cabinet written over its own target",
       "cabinet",
       "DRELIX.PACKED.7Z",
       "SETUP.EXX_",
       u"SETUP.EXX_",
       u"setup.exe.",
       1,
       "would fail with exit code 115 (Windows error 0)",
       {}},
      {"cabinet that does not expand",
       "cabinet",
       "DRELIX.PACKED.7Z",
       "SETUP.EX_",
       u"MSCF",
       u"MSCX",
       1,
       "would fail with exit code 115 (Windows error 0): the cabinet cannot be expanded",
       {}},
  };
  for (const Case& c : cases) {
    Bytes installer = Packed(program, c.form, c.archive_name, c.setup_name);
    if (c.from == u"MSCF") {
      const Bytes signature = {'M', 'S', 'C', 'F'};
      std::copy(c.to.begin(), c.to.end(),
                std::search(installer.begin(), installer.end(), signature.begin(), signature.end()));
    } else if (!c.from.empty()) {
      Rename(installer, c.from, c.to);
    }
    const Outcome outcome = Run(installer);
    EXPECT_EQ(outcome.inspect, c.exit_code) << c.what << "\n" << outcome.report;
    EXPECT_EQ(outcome.extract, c.exit_code) << c.what << "\n" << outcome.messages;
    EXPECT_NE(outcome.report.find(c.message), std::string::npos) << c.what << "\n" << outcome.report;
    EXPECT_NE(outcome.messages.find(c.message), std::string::npos) << c.what << "\n" << outcome.messages;
    if (c.exit_code == 0) {
      EXPECT_EQ(Listing(directory_ / "out"), c.written) << c.what;
      const Bytes setup = ReadBytes(directory_ / "out" / c.written[1]);
      EXPECT_EQ(setup, program) << c.what;
    } else {
      EXPECT_FALSE(std::filesystem::exists(directory_ / "out")) << c.what;
    }
    // Nothing beside the inputs, the installers and the new directory.
    std::vector<std::filesystem::path> expected = {"archive.7z", "edited.exe", "installer.exe", "setup.exe"};
    if (c.exit_code == 0) expected.insert(expected.begin() + 3, "out");
    EXPECT_EQ(Listing(directory_), expected) << c.what;
    std::filesystem::remove_all(directory_ / "out");
  }
}

TEST_F(ExtractionTest, NeedsANewDirectoryAndLeavesAnExistingOneAlone) {
  WriteBytes(directory_ / "edited.exe", Packed(SmallestProgramImage(), "plain", "DRELIX.PACKED.7Z", "SETUP.EXE"));
  std::filesystem::create_directory(directory_ / "out");
  WriteBytes(directory_ / "out" / "setup.exe", {'k', 'e', 'p', 't'});
  std::ostringstream errors;
  EXPECT_EQ(ExtractInstaller((directory_ / "edited.exe").string(), (directory_ / "out").string(), errors),
            kExtractionRefused);
  EXPECT_NE(errors.str().find("already exists"), std::string::npos) << errors.str();
  EXPECT_EQ(Listing(directory_ / "out"), std::vector<std::filesystem::path>{"setup.exe"});
  EXPECT_EQ(ReadBytes(directory_ / "out" / "setup.exe"), (Bytes{'k', 'e', 'p', 't'}));
}

// An installer Windows does not start, made sparse by extending a real one to 2 GiB: both verdicts
// say so and nothing is written; one byte less is judged on its payload.
TEST_F(ExtractionTest, InstallerOf2GibWouldNotStart) {
  WriteBytes(directory_ / "edited.exe", Packed(SmallestProgramImage(), "plain", "DRELIX.PACKED.7Z", "SETUP.EXE"));
  for (const std::uint64_t size : {kLargestWindowsImageSize, kLargestWindowsImageSize - 1}) {
    std::filesystem::resize_file(directory_ / "edited.exe", size);
    std::ostringstream report;
    std::ostringstream errors;
    const int inspected = ReportInstaller((directory_ / "edited.exe").string(), "", report, errors);
    const int extracted = ExtractInstaller((directory_ / "edited.exe").string(), (directory_ / "out").string(), errors);
    const bool too_large = size == kLargestWindowsImageSize;
    EXPECT_EQ(inspected, too_large ? kInspectionWouldFail : kInspectionWouldSucceed) << report.str();
    EXPECT_EQ(extracted, too_large ? kExtractionRefused : kExtractionWritten) << errors.str();
    EXPECT_EQ(report.str().find("extraction: would fail: the installer is 2147483648 bytes; Windows does not start a "
                                "64-bit image of 2 GiB (2147483648 bytes) or more\n") != std::string::npos,
              too_large)
        << report.str();
    EXPECT_EQ(std::filesystem::exists(directory_ / "out"), !too_large);
  }
}

// The cabinet form's report names the setup.exe the installer writes: its size and hash are the
// setup program's own, next to the cabinet's.
TEST_F(ExtractionTest, ReportsTheSetupProgramACabinetExpandsTo) {
  Bytes program = SmallestProgramImage();
  for (std::size_t index = 0; program.size() < 100000; ++index)
    program.push_back(static_cast<std::uint8_t>(index * index >> 3));
  const Outcome outcome = Run(Packed(program, "cabinet", "DRELIX.PACKED.7Z", "SETUP.EX_"));
  Sha256 hash;
  hash.Update(program.data(), program.size());
  EXPECT_NE(outcome.report.find("setup program: setup.exe expanded from the cabinet: size=100000 sha256=" +
                                HexDigest(hash.Finish()) + "\n"),
            std::string::npos)
      << outcome.report;
  EXPECT_NE(outcome.report.find("setup machine: x64 (0x8664)\n"), std::string::npos) << outcome.report;
  EXPECT_EQ(ReadBytes(directory_ / "out" / "setup.exe"), program);
}

// What the check calls a program, and why it calls the rest none.
TEST(SetupProgramCheckTest, TakesPeImagesOnly) {
  const Bytes program = SmallestProgramImage();
  const auto edited = [&](std::size_t offset, std::vector<std::uint8_t> bytes, std::size_t size = 0) {
    Bytes result = program;
    for (std::size_t index = 0; index < bytes.size(); ++index) result.at(offset + index) = bytes[index];
    if (size != 0) result.resize(size);
    return result;
  };
  const struct {
    const char* what;
    Bytes bytes;
    const char* problem;  // empty for a program
  } cases[] = {
      {"x64 program", program, ""},
      {"x86 machine", edited(kDosHeaderSize + 4, {0x4C, 0x01}), ""},
      {"text", Bytes(300, 't'), "it does not begin with \"MZ\""},
      {"shorter than a DOS header", Bytes{'M', 'Z'}, "the file ends before its DOS header"},
      {"e_lfanew past the end", edited(kDosPeSignatureOffset, {0xFF, 0xFF, 0, 0}),
       "the file ends before its PE signature"},
      {"e_lfanew past what is read", edited(kDosPeSignatureOffset, {0, 0, 2, 0}, 0x30000),
       "lies past the first 65536 bytes"},
      {"no PE signature", edited(kDosHeaderSize, {'P', 'F'}), "does not point at"},
      {"no optional header", edited(kDosHeaderSize + 4 + kCoffOptionalHeaderSizeOffset, {0, 0}),
       "it has no optional header"},
      {"optional header past the end", program, "the file ends before its optional header"},
      {"unknown magic", edited(kDosHeaderSize + 24, {0x07, 0x01}), "is neither PE32 nor PE32+"},
      {"optional header too short", edited(kDosHeaderSize + 4 + kCoffOptionalHeaderSizeOffset, {100, 0}), "too short"},
  };
  for (const auto& c : cases) {
    const std::uint64_t size = std::string(c.what) == "optional header past the end" ? 200 : c.bytes.size();
    const SetupProgramCheck check =
        CheckSetupProgram(std::span(c.bytes).first(std::min(c.bytes.size(), kProgramHeaderWindow)), size);
    EXPECT_EQ(check.is_program, *c.problem == '\0') << c.what;
    EXPECT_NE(check.problem.find(c.problem), std::string::npos) << c.what << ": " << check.problem;
  }
  EXPECT_EQ(CheckSetupProgram(edited(kDosHeaderSize + 4, {0x4C, 0x01}), program.size()).machine, 0x14C);
  EXPECT_EQ(MachineText(0x8664), "x64 (0x8664)");
  EXPECT_EQ(MachineText(0xAA64), "ARM64 (0xAA64)");
  EXPECT_EQ(MachineText(0x1234), "unknown (0x1234)");
}

}  // namespace
