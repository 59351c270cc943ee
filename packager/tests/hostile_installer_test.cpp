// --inspect on installers made to hurt it: trees that cost memory or time without end, data outside
// the file, huge declared sizes and names that would forge the report. Each is built small here;
// the work must stay bounded and the verdict honest. Also every input the fuzzers ever found is
// replayed through both entry points (under the sanitizers in CI).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cabinet/cabinet_reader.h"
#include "encoding/little_endian.h"
#include "fuzz_targets.h"
#include "host/byte_source.h"
#include "image/pe_format.h"
#include "image/version_block.h"
#include "inspect/installer_report.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kSectionFileOffset = 0x200;
constexpr std::uint32_t kHighBit = 0x80000000;

// A resource section assembled piece by piece; offsets count from its start, the root table first.
class ResourceSection {
 public:
  std::uint32_t Table(std::uint16_t count) {
    const std::uint32_t offset = Reserve(16 + 8 * count);
    WriteUint16(&bytes_[offset + 14], count);
    return offset;
  }
  void Entry(std::uint32_t table, std::uint16_t index, std::uint32_t name_field, std::uint32_t target) {
    WriteUint32(&bytes_[table + 16 + 8 * index], name_field);
    WriteUint32(&bytes_[table + 20 + 8 * index], target);
  }
  // A name entry's field for `name`.
  std::uint32_t Name(const std::u16string& name) {
    const std::uint32_t offset = Reserve(2 + 2 * name.size());
    WriteUint16(&bytes_[offset], static_cast<std::uint16_t>(name.size()));
    for (std::size_t unit = 0; unit < name.size(); ++unit) WriteUint16(&bytes_[offset + 2 + 2 * unit], name[unit]);
    return kHighBit | offset;
  }
  std::uint32_t Data(std::uint32_t rva, std::uint32_t size) {
    const std::uint32_t offset = Reserve(16);
    WriteUint32(&bytes_[offset], rva);
    WriteUint32(&bytes_[offset + 4], size);
    return offset;
  }
  // `size` bytes of content; returns their RVA.
  std::uint32_t Content(std::uint32_t size, std::uint8_t fill) {
    const std::uint32_t offset = Reserve(size);
    std::fill_n(bytes_.begin() + offset, size, fill);
    return kSectionRva + offset;
  }
  // `content` as a resource's bytes; returns their RVA.
  std::uint32_t Content(const Bytes& content) {
    const std::uint32_t offset = Reserve(content.size());
    std::copy(content.begin(), content.end(), bytes_.begin() + offset);
    return kSectionRva + offset;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  std::uint32_t Reserve(std::size_t size) {
    const auto offset = static_cast<std::uint32_t>((bytes_.size() + 7) / 8 * 8);
    bytes_.resize(offset + size);
    return offset;
  }
  Bytes bytes_;
};

// The smallest PE32+ image whose one section holds `section`.
Bytes ImageWith(const ResourceSection& section) {
  Bytes image(kSectionFileOffset);
  image[0] = 'M';
  image[1] = 'Z';
  WriteUint32(&image[0x3C], 0x40);
  std::copy_n("PE\0\0", 4, &image[0x40]);
  WriteUint16(&image[0x44], 0x8664);
  WriteUint16(&image[0x46], 1);    // one section
  WriteUint16(&image[0x54], 240);  // optional header size
  std::uint8_t* optional = &image[0x58];
  WriteUint16(optional, 0x20B);
  WriteUint32(optional + 32, 0x1000);
  WriteUint32(optional + 36, 0x200);
  WriteUint32(optional + 60, kSectionFileOffset);
  WriteUint32(optional + 108, 16);
  const auto size = static_cast<std::uint32_t>(section.bytes().size());
  WriteUint32(optional + 112 + 16, kSectionRva);
  WriteUint32(optional + 112 + 20, size);
  std::uint8_t* header = &image[0x58 + 240];
  std::copy_n(".rsrc", 5, header);
  WriteUint32(header + 8, size);
  WriteUint32(header + 12, kSectionRva);
  WriteUint32(header + 16, size);
  WriteUint32(header + 20, kSectionFileOffset);
  image.resize(kSectionFileOffset + size);
  std::copy(section.bytes().begin(), section.bytes().end(), image.begin() + kSectionFileOffset);
  return image;
}

// A payload of two named resources, archive and setup, with the given names and data entries.
ResourceSection Payload(const std::u16string& archive, const std::u16string& setup, std::uint32_t archive_size,
                        std::uint32_t setup_size, std::uint32_t outside = 0) {
  ResourceSection section;
  const std::uint32_t root = section.Table(1);
  const std::uint32_t type = section.Table(2);
  section.Entry(root, 0, section.Name(u"B7"), kHighBit | type);
  const std::uint32_t archive_rva = section.Content(archive_size, 'a');
  const std::uint32_t setup_rva = section.Content(setup_size, 's');
  for (std::uint16_t index = 0; index < 2; ++index) {
    const std::uint32_t languages = section.Table(1);
    section.Entry(type, index, section.Name(index == 0 ? archive : setup), kHighBit | languages);
    section.Entry(languages, 0, 1033,
                  section.Data(index == 0 ? archive_rva + outside : setup_rva, index == 0 ? archive_size : setup_size));
  }
  return section;
}

struct Inspection {
  int code = 0;
  std::string out;
  std::string errors;
};

Inspection Inspect(const Bytes& image, const std::string& path = "hostile.exe",
                   ReportFormat format = ReportFormat::text) {
  MemoryByteSource source(image);
  std::ostringstream out;
  std::ostringstream errors;
  Inspection result;
  result.code = ReportInstaller(source, path, "", out, errors, format);
  result.out = out.str();
  result.errors = errors.str();
  return result;
}

TEST(HostileInstallerTest, WellFormedPayloadWouldSucceed) {
  const Inspection inspection = Inspect(ImageWith(Payload(u"DRELIX.PACKED.7Z", u"SETUP.PATCH", 100, 50)));
  EXPECT_EQ(inspection.code, kInspectionWouldSucceed) << inspection.out << inspection.errors;
  EXPECT_NE(inspection.out.find("extraction: would succeed"), std::string::npos);
}

// Data outside the file can never be unpacked: no "would succeed", and the exit code says the
// installer was not read whole.
TEST(HostileInstallerTest, DataOutsideTheFileGetsNoVerdict) {
  const Inspection inspection = Inspect(ImageWith(Payload(u"DRELIX.PACKED.7Z", u"SETUP.PATCH", 100, 50, 0x100000)));
  EXPECT_EQ(inspection.code, kInspectionIncomplete);
  EXPECT_NE(inspection.out.find("sha256=(not read: its data lies outside the file)"), std::string::npos);
  EXPECT_NE(inspection.out.find("extraction: unknown, the installer was not read whole"), std::string::npos);
  EXPECT_EQ(inspection.out.find("would succeed"), std::string::npos);
}

// A certificate table of a wrong revision after the image, where a signing tool puts the table.
Bytes WithBrokenCertificateTable(Bytes image) {
  const auto offset = static_cast<std::uint32_t>(image.size());
  image.resize(offset + 16);
  WriteUint32(&image[offset], 16);
  WriteUint16(&image[offset + 4], 0x0100);
  WriteUint16(&image[offset + 6], 0x0002);
  WriteUint32(&image[0x58 + 112 + 8 * 4], offset);
  WriteUint32(&image[0x58 + 112 + 8 * 4 + 4], 16);
  return image;
}

// A failed signature outranks every other finding: exit 4 before 1 (would fail) before 3
// (incomplete) before 0.
TEST(HostileInstallerTest, FailedSignatureOutranksTheOtherVerdicts) {
  const struct {
    const char* what;
    Bytes image;
    int unsigned_code;
  } cases[] = {
      {"would succeed", ImageWith(Payload(u"DRELIX.PACKED.7Z", u"SETUP.PATCH", 100, 50)), kInspectionWouldSucceed},
      {"would fail", ImageWith(Payload(u"PACKED.7Z", u"SETUP.PATCH", 100, 50)), kInspectionWouldFail},
      {"incomplete", ImageWith(Payload(u"DRELIX.PACKED.7Z", u"SETUP.PATCH", 100, 50, 0x100000)), kInspectionIncomplete},
  };
  for (const auto& verdict : cases) {
    SCOPED_TRACE(verdict.what);
    EXPECT_EQ(Inspect(verdict.image).code, verdict.unsigned_code);
    const Inspection inspection = Inspect(WithBrokenCertificateTable(verdict.image));
    EXPECT_EQ(inspection.code, kInspectionSignatureFailed) << inspection.out;
    EXPECT_NE(inspection.out.find("signature: fails: the certificate's wRevision is 0x0100, not 0x0200"),
              std::string::npos)
        << inspection.out;
  }
}

// Control characters and line breaks in names are shown as \u escapes: no forged report line.
TEST(HostileInstallerTest, NamesArePrintedEscaped) {
  const Inspection inspection =
      Inspect(ImageWith(Payload(u"DRELIX\x1b[2J\nextraction: would succeed\\", u"SETUP\u202E.EXE", 10, 10)));
  EXPECT_NE(inspection.out.find("name=DRELIX\\u001B[2J\\u000Aextraction:\\u0020would\\u0020succeed\\u005C "),
            std::string::npos)
      << inspection.out;
  EXPECT_NE(inspection.out.find("name=SETUP\\u202E.EXE "), std::string::npos) << inspection.out;
  EXPECT_EQ(inspection.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(inspection.out.find("\nextraction: would succeed"), std::string::npos) << inspection.out;
}

// A payload and a version block whose keys and texts try to forge fields and lines, or to hide or
// reorder what is shown; each is escaped in the text report and in the JSON one, as is the path.
TEST(HostileInstallerTest, VersionTextsKeysAndThePathAreEscaped) {
  VersionBlock block;
  block.string_tables = {{u"040904B0",
                          {{u"CompanyName=\"Microsoft Corporation\"", u"x"},
                           {u"ProductName", u"Acme\" CompanyName=\"Microsoft"},
                           {u"File Description", u"a\u061Cb\u3164c\U000E0041d\u202Ee\x1b[31mf\ng"}}}};
  Bytes version;
  std::string error;
  ASSERT_TRUE(VersionBlockBytes(block, version, error)) << error;
  ResourceSection both;
  const std::uint32_t root = both.Table(2);
  const std::uint32_t payload_type = both.Table(2);
  const std::uint32_t version_names = both.Table(1);
  const std::uint32_t version_languages = both.Table(1);
  both.Entry(root, 0, both.Name(u"B7"), kHighBit | payload_type);
  both.Entry(root, 1, kVersionResourceType, kHighBit | version_names);
  both.Entry(version_names, 0, 1, kHighBit | version_languages);
  both.Entry(version_languages, 0, 1033, both.Data(both.Content(version), static_cast<std::uint32_t>(version.size())));
  for (std::uint16_t index = 0; index < 2; ++index) {
    const std::uint32_t languages = both.Table(1);
    both.Entry(payload_type, index, both.Name(index == 0 ? u"DRELIX.PACKED.7Z" : u"SETUP \"x\"=1"),
               kHighBit | languages);
    both.Entry(languages, 0, 1033, both.Data(both.Content(10, 'p'), 10));
  }
  const std::string path = "evil\nextraction: would succeed\n\x1b]0;x\a.exe";

  const Inspection text = Inspect(ImageWith(both), path);
  for (const char* expected : {
           "installer: evil\\u000Aextraction: would succeed\\u000A\\u001B]0;x\\u0007.exe\n",
           " name=SETUP\\u0020\\u0022x\\u0022\\u003D1 language=1033 ",
           "version text: CompanyName\\u003D\\u0022Microsoft\\u0020Corporation\\u0022=\"x\"\n",
           "version text: ProductName=\"Acme\\u0022 CompanyName=\\u0022Microsoft\"\n",
           "version text: File\\u0020Description=\"a\\u061Cb\\u3164c\\uDB40\\uDC41d\\u202Ee\\u001B[31mf\\u000Ag\"\n",
       }) {
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
  }
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\x1b'), 0);
  // One verdict line, the report's own last one.
  EXPECT_EQ(text.out.find("\nextraction: "), text.out.rfind("\nextraction: ")) << text.out;

  const Inspection json = Inspect(ImageWith(both), path, ReportFormat::json);
  for (const char* expected : {
           "\"installer\": \"evil\\u000Aextraction: would succeed\\u000A\\u001B]0;x\\u0007.exe\"",
           "\"name\": \"SETUP \\\"x\\\"=1\"",
           "\"key\": \"CompanyName=\\\"Microsoft Corporation\\\"\"",
           "\"value\": \"a\\u061Cb\\u3164c\\uDB40\\uDC41d\\u202Ee\\u001B[31mf\\u000Ag\"",
       }) {
    EXPECT_NE(json.out.find(expected), std::string::npos) << expected << "\n" << json.out;
  }
  EXPECT_EQ(text.code, json.code);
}

// A section name from the file reaches a message on standard error escaped, like every other text.
TEST(HostileInstallerTest, SectionNameInAMessageIsEscaped) {
  Bytes image = ImageWith(Payload(u"DRELIX.PACKED.7Z", u"SETUP.PATCH", 10, 10));
  std::uint8_t* header = &image[0x58 + 240];
  std::copy_n("\x1b[2J\n", 5, header);
  WriteUint32(header + 16, 0x100000);  // its data ends past the end of the file
  const Inspection inspection = Inspect(image);
  EXPECT_EQ(inspection.code, kInspectionWouldFail);
  EXPECT_TRUE(inspection.out.empty());
  EXPECT_NE(inspection.errors.find("section \\u001B[2J\\u000A ends past the end"), std::string::npos)
      << inspection.errors;
}

// A declared size of almost 4 GiB for RCDATA 1 in a tiny file costs nothing.
TEST(HostileInstallerTest, HugePreviousVersionIsNotAllocated) {
  ResourceSection rcdata;
  const std::uint32_t root = rcdata.Table(1);
  const std::uint32_t names = rcdata.Table(1);
  const std::uint32_t languages = rcdata.Table(1);
  rcdata.Entry(root, 0, 10, kHighBit | names);
  rcdata.Entry(names, 0, 1, kHighBit | languages);
  rcdata.Entry(languages, 0, 1033, rcdata.Data(kSectionRva, 0xFFFFFFF0));
  const Inspection inspection = Inspect(ImageWith(rcdata));
  EXPECT_NE(inspection.out.find("previous version: none (RCDATA 1 of 4294967280 bytes"), std::string::npos)
      << inspection.out;
}

// About a million resources sharing one name of 65,535 units ended in std::bad_alloc; a name past
// the limit is refused at once, and so is a tree whose directories all lead to the same tables.
TEST(HostileInstallerTest, TreesPastTheLimitsAreRefusedAtOnce) {
  ResourceSection long_name;
  const std::uint32_t root = long_name.Table(1);
  const std::uint32_t type = long_name.Table(1);
  long_name.Entry(root, 0, long_name.Name(u"B7"), kHighBit | type);
  long_name.Entry(type, 0, long_name.Name(std::u16string(65535, u'D')), kHighBit | type);
  Inspection inspection = Inspect(ImageWith(long_name));
  EXPECT_EQ(inspection.code, kInspectionIncomplete);
  EXPECT_NE(inspection.errors.find("a resource name is 65535 units long, more than 1024 (a limit of --inspect"),
            std::string::npos)
      << inspection.errors;

  ResourceSection shared;
  const std::uint32_t shared_root = shared.Table(300);
  const std::uint32_t names = shared.Table(300);
  const std::uint32_t languages = shared.Table(1);
  for (std::uint16_t index = 0; index < 300; ++index) {
    shared.Entry(shared_root, index, index, kHighBit | names);
    shared.Entry(names, index, index, kHighBit | languages);
  }
  shared.Entry(languages, 0, 1033, shared.Data(kSectionRva, 16));
  inspection = Inspect(ImageWith(shared));
  EXPECT_EQ(inspection.code, kInspectionIncomplete);
  EXPECT_NE(inspection.errors.find("the resource directory has more than 65536 entries"), std::string::npos)
      << inspection.errors;
}

// Tens of thousands of resources pointing at one 1 MiB block are hashed once; blocks that only
// overlap count against a budget of the file's own size, past which the report is incomplete.
TEST(HostileInstallerTest, HashingIsBoundedByTheFilesSize) {
  ResourceSection section;
  const std::uint32_t root = section.Table(1);
  const std::uint32_t names = section.Table(200);
  const std::uint32_t languages = section.Table(200);
  const std::uint32_t block = section.Content(1 << 20, 'x');
  section.Entry(root, 0, section.Name(u"B7"), kHighBit | names);
  const std::uint32_t data = section.Data(block, 1 << 20);
  for (std::uint16_t index = 0; index < 200; ++index) {
    section.Entry(names, index,
                  section.Name(u"DRELIX" + std::u16string(1, static_cast<char16_t>(u'A' + index % 26)) +
                               std::u16string(index / 26 + 1, u'0')),
                  kHighBit | languages);
    section.Entry(languages, index, 1000 + index, data);
  }
  const auto start = std::chrono::steady_clock::now();
  Inspection inspection = Inspect(ImageWith(section));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(std::count(inspection.out.begin(), inspection.out.end(), '\n'),
            40000 + 12);  // resources and the report's eleven lines
  EXPECT_EQ(inspection.out.find("not read"), std::string::npos);

  ResourceSection two;
  const std::uint32_t two_root = two.Table(1);
  const std::uint32_t two_names = two.Table(2);
  const std::uint32_t big = two.Content(1 << 20, 'y');
  two.Entry(two_root, 0, two.Name(u"B7"), kHighBit | two_names);
  for (std::uint16_t index = 0; index < 2; ++index) {
    const std::uint32_t language = two.Table(1);
    two.Entry(two_names, index, two.Name(index == 0 ? u"DRELIX" : u"SETUP.PATCH"), kHighBit | language);
    two.Entry(language, 0, 1033, two.Data(big + 8 * index, (1 << 20) - 8 * index));
  }
  inspection = Inspect(ImageWith(two));
  EXPECT_EQ(inspection.code, kInspectionIncomplete) << inspection.out;
  EXPECT_NE(inspection.out.find("more bytes than the file holds (a limit of --inspect)"), std::string::npos)
      << inspection.out;
}

// An icon group whose count claims three entries where its 20 bytes hold one: read past its end, the
// report would show sizes made of whatever follows (and the sanitized run would stop there).
TEST(FuzzRegressionTest, IconGroupThatClaimsMoreEntriesIsReportedUnreadable) {
  std::ifstream file(std::string(DRELIX_PACK_FUZZ_REGRESSIONS) + "/inspect/icon-group-claims-more-entries.exe",
                     std::ios::binary);
  const Bytes bytes(std::istreambuf_iterator<char>(file), {});
  const Inspection inspection = Inspect(bytes);
  EXPECT_NE(inspection.out.find("\nicon: unreadable (the icon group is cut short)\n"), std::string::npos)
      << inspection.out;
}

// Every input the fuzzers ever found goes through every entry point; none may crash.
TEST(FuzzRegressionTest, EveryKeptInputIsHandled) {
  std::size_t replayed = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(DRELIX_PACK_FUZZ_REGRESSIONS)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    const Bytes bytes(std::istreambuf_iterator<char>(file), {});
    const int inspected = InspectBytes(bytes);
    EXPECT_TRUE(inspected == kInspectionWouldSucceed || inspected == kInspectionWouldFail ||
                inspected == kInspectionIncomplete || inspected == kInspectionSignatureFailed)
        << entry.path();
    EXPECT_LE(PackWithStub(bytes), 1) << entry.path();
    EXPECT_LE(ReadVersionBlockBytes(bytes), 1) << entry.path();
    EXPECT_LE(ReadIconFileBytes(bytes), 1) << entry.path();
    EXPECT_LE(CheckSignatureTable(bytes), 1) << entry.path();
    EscapeBytes(bytes);
    EXPECT_LE(ExpandCabinetBytes(bytes), static_cast<int>(CabinetExpansion::Result::kOutputFailed)) << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
