// --inspect on installers made to hurt it: trees that cost memory or time without end, data outside
// the file, huge declared sizes and names that would forge the report. Each is built small here;
// the work must stay bounded and the verdict honest. Also every input the fuzzers ever found is
// replayed through both entry points (under the sanitizers in CI).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "byte_source.h"
#include "fuzz_targets.h"
#include "installer_report.h"
#include "little_endian.h"

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

Inspection Inspect(const Bytes& image) {
  MemoryByteSource source(image);
  std::ostringstream out;
  std::ostringstream errors;
  Inspection result;
  result.code = ReportInstaller(source, "hostile.exe", out, errors);
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
            40000 + 11);  // resources and the report's eleven lines
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

// Every input the fuzzers ever found goes through every entry point; none may crash.
TEST(FuzzRegressionTest, EveryKeptInputIsHandled) {
  std::size_t replayed = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(DRELIX_PACK_FUZZ_REGRESSIONS)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    const Bytes bytes(std::istreambuf_iterator<char>(file), {});
    const int inspected = InspectBytes(bytes);
    EXPECT_TRUE(inspected == kInspectionWouldSucceed || inspected == kInspectionWouldFail ||
                inspected == kInspectionIncomplete)
        << entry.path();
    EXPECT_LE(PackWithStub(bytes), 1) << entry.path();
    EXPECT_LE(ReadVersionBlockBytes(bytes), 1) << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
