// The image writer and the resource section, on the real installer without payload: what stays as
// it was, where the new resource section and the moved sections go, the sorted resource tree, and
// the stubs packing refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "encoding/little_endian.h"
#include "host/byte_source.h"
#include "image/image_writer.h"
#include "image/pe_image.h"
#include "image/resource_tree.h"
#include "pack/pack.h"
#include "stub_packing_test.h"

namespace {

PeImage ReadImage(const Bytes& bytes) {
  MemoryByteSource source(bytes);
  PeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, image, error)) << error;
  return image;
}

const SectionHeader& Section(const PeImage& image, const std::string& name) {
  const auto found = std::find_if(image.sections.begin(), image.sections.end(),
                                  [&](const SectionHeader& section) { return section.name == name; });
  EXPECT_NE(found, image.sections.end()) << name;
  return *found;
}

Bytes RawData(const Bytes& file, const SectionHeader& section, std::uint32_t size) {
  return Bytes(file.begin() + section.pointer_to_raw_data, file.begin() + section.pointer_to_raw_data + size);
}

constexpr std::size_t kNoCheckSumField = std::numeric_limits<std::size_t>::max() - 4;

// The PE checksum the plain way, as a reference for the image writer's wide sum: one 16-bit word at
// a time with the carry folded back after every addition, the checksum field's two words left out,
// a last odd byte taken as a word of its own, and the file's length added.
std::uint32_t WordByWordChecksum(const Bytes& file, std::size_t check_sum_offset = kNoCheckSumField) {
  std::uint32_t sum = 0;
  for (std::size_t offset = 0; offset < file.size(); offset += 2) {
    if (offset == check_sum_offset || offset == check_sum_offset + 2) continue;
    sum += offset + 1 < file.size() ? ReadUint16(&file[offset]) : file[offset];
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<std::uint32_t>(file.size());
}

// Random bytes, all ones (the largest sums) and all zeros, fed whole and in pieces of every length
// around the wide loop's 16-byte step and the copy piece, odd ones carrying half a word across.
TEST(ImageChecksumTest, WideSumMatchesWordByWordInAnyPieces) {
  std::mt19937 generator(18);
  Bytes random((3 << 20) + 5);
  for (std::uint8_t& byte : random) byte = static_cast<std::uint8_t>(generator());
  for (const Bytes& file : {random, Bytes((1 << 20) + 3, 0xFF), Bytes(4097, 0)}) {
    SCOPED_TRACE(file.size());
    const std::uint32_t expected = WordByWordChecksum(file);
    for (const std::vector<std::size_t>& pieces : std::vector<std::vector<std::size_t>>{
             {file.size()}, {1}, {15, 16, 17, 2, 3}, {4097, 262144, 262145, 1}, {31, 33, 65535}}) {
      ImageChecksum checksum;
      for (std::size_t offset = 0, turn = 0; offset < file.size(); ++turn) {
        const std::size_t size = std::min(pieces[turn % pieces.size()], file.size() - offset);
        checksum.Update(file.data() + offset, size);
        offset += size;
      }
      EXPECT_EQ(checksum.Finish(file.size()), expected) << "first piece " << pieces[0];
    }
  }
}

class PackedImageTest : public StubPackingTest {
 protected:
  // Every installer packed here must carry the checksum computed apart from the tool's code.
  int PackWith(const Bytes& stub, const Bytes& archive, std::string& message, Bytes& output,
               std::optional<std::string> previous_version = std::nullopt) {
    const int code = StubPackingTest::PackWith(stub, archive, message, output, std::move(previous_version));
    if (!output.empty()) {
      EXPECT_EQ(ReadImage(output).check_sum,
                WordByWordChecksum(output, ReadImage(output).optional_header_offset + kOptionalCheckSumOffset))
          << "header checksum";
    }
    return code;
  }
};

TEST_F(PackedImageTest, StubChecksumIsTheLinkersChecksum) {
  const PeImage stub = ReadImage(stub_);
  Bytes zeroed = stub_;
  WriteUint32(&zeroed[stub.optional_header_offset + kOptionalCheckSumOffset], 0);
  ImageChecksum checksum;
  // Fed in odd pieces, so the word boundary is carried between them.
  for (std::size_t offset = 0; offset < zeroed.size(); offset += 4097) {
    checksum.Update(zeroed.data() + offset, std::min<std::size_t>(4097, zeroed.size() - offset));
  }
  EXPECT_EQ(checksum.Finish(zeroed.size()), stub.check_sum);
}

// The largest archive plans an image whose size in memory ends within one page of the limit (the
// file itself may end a page earlier), so no other bound refuses earlier; one byte more is refused
// with the limit named, at planning, before anything is written.
TEST_F(PackedImageTest, LargestArchiveReachesTheImageLimitAndOneByteMoreIsRefused) {
  const PeImage stub = ReadImage(stub_);
  const auto plan_with = [&](std::uint64_t archive_size, ImagePlan& plan, std::string& error) {
    std::vector<ResourceItem> items{
        {ResourceKey::Name(u"B7"), ResourceKey::Name(u"DRELIX.PACKED.7Z"), 1033, 0, {{}, stdin, archive_size}},
        {ResourceKey::Name(u"BN"), ResourceKey::Name(u"SETUP.EXE"), 1033, 0, {{}, stdin, 16384}}};
    return PlanImage(stub, stub_, std::move(items), plan, error);
  };
  ImagePlan plan;
  std::string error;
  std::uint64_t accepted = 1;
  std::uint64_t refused = kLargestImageSize;
  while (refused - accepted > 1) {
    const std::uint64_t middle = accepted + (refused - accepted) / 2;
    (plan_with(middle, plan, error) ? accepted : refused) = middle;
  }
  ASSERT_TRUE(plan_with(accepted, plan, error)) << error;
  EXPECT_LE(plan.file_size, kLargestImageSize);
  const std::uint32_t size_of_image =
      ReadUint32(&plan.prefix[stub.optional_header_offset + kOptionalSizeOfImageOffset]);
  EXPECT_LE(size_of_image, kLargestImageSize);
  EXPECT_GT(size_of_image, kLargestImageSize - kImageFileAlignment);

  EXPECT_FALSE(plan_with(accepted + 1, plan, error));
  EXPECT_NE(error.find("an installer image holds at most 4294963200 bytes"), std::string::npos) << error;
}

// Payload sizes around the 4 KiB alignment and a piece larger than one copy piece.
class PackedLayoutTest : public PackedImageTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(PackedLayoutTest, KeepsTheStubsSectionsAndAlignsTheRest) {
  Bytes archive(GetParam());
  for (std::size_t index = 0; index < archive.size(); ++index)
    archive[index] = static_cast<std::uint8_t>(index * 7 + index / 251);
  std::string message;
  Bytes output;
  ASSERT_EQ(PackWith(stub_, archive, message, output, "1.2.3"), 0) << message;
  const PeImage stub = ReadImage(stub_);
  const PeImage image = ReadImage(output);

  ASSERT_EQ(image.sections.size(), stub.sections.size());
  for (std::size_t index = 0; index < stub.sections.size(); ++index) {
    const SectionHeader& before = stub.sections[index];
    const SectionHeader& after = image.sections[index];
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.pointer_to_raw_data % kImageFileAlignment, 0u) << after.name;
    EXPECT_EQ(after.size_of_raw_data % kImageFileAlignment, 0u) << after.name;
    if (before.name == ".rsrc") continue;
    // Unchanged byte for byte; only the relocations move, behind the new resource section.
    EXPECT_EQ(RawData(output, after, after.size_of_raw_data), RawData(stub_, before, before.size_of_raw_data))
        << before.name;
    EXPECT_EQ(after.virtual_size, before.virtual_size) << before.name;
    if (before.name != ".reloc") {
      EXPECT_EQ(after.virtual_address, before.virtual_address) << before.name;
    }
  }
  const SectionHeader& resources = Section(image, ".rsrc");
  const SectionHeader& relocations = Section(image, ".reloc");
  EXPECT_EQ(resources.virtual_address, Section(stub, ".rsrc").virtual_address);
  EXPECT_GE(resources.virtual_size, archive.size());
  EXPECT_EQ(relocations.virtual_address,
            (resources.virtual_address + resources.virtual_size + 0xFFF) / 0x1000 * 0x1000);
  EXPECT_EQ(image.directories[kBaseRelocationDirectory].virtual_address, relocations.virtual_address);
  EXPECT_EQ(image.directories[kResourceDirectory].virtual_address, resources.virtual_address);
  EXPECT_EQ(image.directories[kResourceDirectory].size, resources.virtual_size);
  EXPECT_EQ(image.size_of_image, relocations.virtual_address + 0x1000);
  EXPECT_EQ(output.size(), std::uint64_t{relocations.pointer_to_raw_data} + relocations.size_of_raw_data);
  EXPECT_EQ(ReadUint32(&output[image.coff_header_offset + kCoffTimeDateStampOffset]), 0u);

  // The archive is readable through its resource entry, and packing again gives the same bytes.
  MemoryByteSource source(output);
  std::vector<ResourceItem> entries;
  std::string error;
  ASSERT_TRUE(ReadResourceTree(image, source, entries, error)) << error;
  ASSERT_EQ(entries[0].type, ResourceKey::Name(u"B7"));
  std::uint64_t offset = 0;
  ASSERT_TRUE(image.FileOffsetOf(entries[0].content.data_rva, entries[0].content.size, offset));
  EXPECT_EQ(Bytes(output.begin() + static_cast<std::ptrdiff_t>(offset),
                  output.begin() + static_cast<std::ptrdiff_t>(offset + entries[0].content.size)),
            archive);
  EXPECT_EQ(offset % kResourceDataAlignment, 0u);
  Bytes again;
  ASSERT_EQ(PackWith(stub_, archive, message, again, "1.2.3"), 0) << message;
  EXPECT_EQ(again, output);
}

INSTANTIATE_TEST_SUITE_P(PayloadSizes, PackedLayoutTest, testing::Values(1, 4095, 4096, 4097, (1 << 20) + 3));

TEST_F(PackedImageTest, ResourceTreeIsSortedNamesFirstThenIds) {
  const auto item = [](ResourceKey type, ResourceKey name, std::uint16_t language, std::string text) {
    ResourceContent content{Bytes(text.begin(), text.end()), {}, text.size()};
    return ResourceItem{std::move(type), std::move(name), language, 0, std::move(content)};
  };
  std::vector<ResourceItem> items = {
      item(ResourceKey::Id(24), ResourceKey::Id(1), 1033, "manifest"),
      item(ResourceKey::Name(u"BN"), ResourceKey::Name(u"SETUP.EXE"), 1033, "plain setup"),
      item(ResourceKey::Id(10), ResourceKey::Id(1), 1033, "version"),
      item(ResourceKey::Name(u"B7"), ResourceKey::Name(u"SETUP.PATCH"), 1033, "patch"),
      item(ResourceKey::Name(u"B7"), ResourceKey::Id(5), 1033, "integer id"),
      item(ResourceKey::Name(u"B7"), ResourceKey::Name(u"DRELIX.B"), 1033, "second"),
      item(ResourceKey::Name(u"B7"), ResourceKey::Name(u"DRELIX.A"), 1049, "first, Russian"),
      item(ResourceKey::Name(u"B7"), ResourceKey::Name(u"DRELIX.A"), 1033, "first, English"),
      item(ResourceKey::Id(3), ResourceKey::Id(2), 1033, "icon 2"),
      item(ResourceKey::Id(3), ResourceKey::Id(1), 1033, "icon 1"),
  };
  ResourceTreeLayout layout;
  std::string error;
  ASSERT_TRUE(LayOutResourceTree(items, 0x7000, layout, error)) << error;

  // Read back through the reader, from a section placed at its RVA.
  Bytes section(layout.size);
  std::copy(layout.directory.begin(), layout.directory.end(), section.begin());
  for (const PlacedResource& placed : layout.placed)
    std::copy(placed.item->content.bytes.begin(), placed.item->content.bytes.end(),
              section.begin() + static_cast<std::ptrdiff_t>(placed.offset));
  PeImage image;
  image.directories.resize(16);
  image.directories[kResourceDirectory] = {0x7000, static_cast<std::uint32_t>(section.size())};
  image.sections.push_back(
      {".rsrc", static_cast<std::uint32_t>(section.size()), 0x7000, static_cast<std::uint32_t>(section.size()), 0, 0});
  MemoryByteSource source(section);
  std::vector<ResourceItem> entries;
  ASSERT_TRUE(ReadResourceTree(image, source, entries, error)) << error;
  std::vector<std::string> order;
  for (const ResourceItem& entry : entries) {
    std::uint64_t offset = 0;
    ASSERT_TRUE(image.FileOffsetOf(entry.content.data_rva, entry.content.size, offset));
    order.emplace_back(section.begin() + static_cast<std::ptrdiff_t>(offset),
                       section.begin() + static_cast<std::ptrdiff_t>(offset + entry.content.size));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"first, English", "first, Russian", "second", "patch", "integer id",
                                             "plain setup", "icon 1", "icon 2", "version", "manifest"}));

  items.push_back(item(ResourceKey::Id(3), ResourceKey::Id(1), 1033, "icon 1 again"));
  EXPECT_FALSE(LayOutResourceTree(items, 0x7000, layout, error));
  EXPECT_EQ(error, "two resources are both #3/#1 language 1033");
}

// A stub whose resource section is its last section (its relocations dropped), or that has none
// (both dropped): the new resource section is then the last one, counted in NumberOfSections,
// and holds the payload. Either way the image ends up with the stub's sections but the relocations.
class ResourceSectionLastOrMissingTest : public PackedImageTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(ResourceSectionLastOrMissingTest, StaysSound) {
  const std::size_t dropped_sections = GetParam();
  Bytes stub = stub_;
  const PeImage original = ReadImage(stub);
  const std::size_t kept = original.sections.size() - dropped_sections;
  ASSERT_EQ(original.sections[original.sections.size() - 2].name, ".rsrc");
  ASSERT_EQ(original.sections.back().name, ".reloc");
  WriteUint16(&stub[original.coff_header_offset + 2], static_cast<std::uint16_t>(kept));
  std::fill_n(stub.begin() + original.section_table_offset + kSectionHeaderSize * kept,
              kSectionHeaderSize * dropped_sections, 0);
  const auto clear_directory = [&](std::size_t index) {
    std::fill_n(stub.begin() + original.optional_header_offset + kOptionalDataDirectoryOffset + 8 * index, 8, 0);
  };
  clear_directory(kBaseRelocationDirectory);
  if (dropped_sections == 2) clear_directory(kResourceDirectory);

  std::string message;
  Bytes output;
  const Bytes archive(5000, 'a');
  ASSERT_EQ(PackWith(stub, archive, message, output), 0) << message;
  const PeImage image = ReadImage(output);
  ASSERT_EQ(image.sections.size(), original.sections.size() - 1);
  for (std::size_t index = 0; index + 1 < image.sections.size(); ++index) {
    EXPECT_EQ(image.sections[index].name, original.sections[index].name);
  }
  const SectionHeader& resources = image.sections.back();
  EXPECT_EQ(resources.name, ".rsrc");
  EXPECT_EQ(output.size(), std::uint64_t{resources.pointer_to_raw_data} + resources.size_of_raw_data);
  EXPECT_EQ(image.directories[kResourceDirectory].virtual_address, resources.virtual_address);
  EXPECT_EQ(image.size_of_image, (resources.virtual_address + resources.virtual_size + 0xFFF) / 0x1000 * 0x1000);
  MemoryByteSource source(output);
  std::vector<ResourceItem> entries;
  std::string error;
  ASSERT_TRUE(ReadResourceTree(image, source, entries, error)) << error;
  const auto found = std::find_if(entries.begin(), entries.end(),
                                  [](const ResourceItem& entry) { return entry.type == ResourceKey::Name(u"B7"); });
  ASSERT_NE(found, entries.end());
  std::uint64_t offset = 0;
  ASSERT_TRUE(image.FileOffsetOf(found->content.data_rva, found->content.size, offset));
  EXPECT_EQ(Bytes(output.begin() + static_cast<std::ptrdiff_t>(offset),
                  output.begin() + static_cast<std::ptrdiff_t>(offset + found->content.size)),
            archive);
}

INSTANTIATE_TEST_SUITE_P(Stubs, ResourceSectionLastOrMissingTest, testing::Values(std::size_t{1}, std::size_t{2}),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                           return std::string(info.param == 1 ? "ResourceSectionLast" : "ResourceSectionMissing");
                         });

struct RefusedStub {
  const char* name;
  void (*damage)(Bytes& stub, const PeImage& image);
  const char* message;
};

class RefusedStubTest : public PackedImageTest, public testing::WithParamInterface<RefusedStub> {};

TEST_P(RefusedStubTest, IsRefusedWithItsReasonAndNoOutput) {
  Bytes stub = stub_;
  GetParam().damage(stub, ReadImage(stub_));
  std::string message;
  Bytes output;
  EXPECT_EQ(PackWith(stub, Bytes(10, 'a'), message, output), 1);
  EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
  // Nothing but the inputs is left: no output, no temporary file.
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(directory_)) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"archive.bin", "setup.bin", "stub.exe"}));
}

void PackedAlready(Bytes& stub, const PeImage&);

INSTANTIATE_TEST_SUITE_P(
    Stubs, RefusedStubTest,
    testing::Values(
        RefusedStub{"TextFile", [](Bytes& stub, const PeImage&) { stub.assign(200, 'x'); },
                    "not a Windows executable (no MZ header)"},
        RefusedStub{"CutInTheHeaders", [](Bytes& stub, const PeImage&) { stub.resize(300); }, "truncated image"},
        RefusedStub{"CutInTheSections", [](Bytes& stub, const PeImage&) { stub.resize(stub.size() - 100); },
                    "truncated image: section .reloc ends past the end of the file"},
        RefusedStub{"ThirtyTwoBit",
                    [](Bytes& stub, const PeImage& image) { WriteUint16(&stub[image.coff_header_offset], 0x14C); },
                    "not an x86-64 image"},
        RefusedStub{
            "FileAlignment512",
            [](Bytes& stub, const PeImage& image) { WriteUint32(&stub[image.optional_header_offset + 36], 512); },
            "the stub's file alignment is 512 bytes, not 4096"},
        RefusedStub{
            "SectionAfterResourcesNotRelocations",
            [](Bytes& stub, const PeImage& image) {
              WriteUint32(
                  &stub[image.optional_header_offset + kOptionalDataDirectoryOffset + 8 * kBaseRelocationDirectory], 0);
            },
            "the stub's section .reloc follows its resource section and cannot be moved"},
        RefusedStub{"CarriesAPayload", PackedAlready, "the stub already carries a payload (resources of type B7)"}),
    [](const testing::TestParamInfo<RefusedStub>& info) { return std::string(info.param.name); });

// An installer made by the tool is no stub: its archive is a "B7" resource.
void PackedAlready(Bytes& stub, const PeImage&) {
  const std::filesystem::path directory = MakeTemporaryDirectory("drelix_pack_test_packed_stub_");
  ASSERT_FALSE(directory.empty());
  WriteBytes(directory / "archive", SmallestProgramImage());
  WriteBytes(directory / "stub.exe", stub);
  PackOptions options;
  options.archive = options.setup = (directory / "archive").string();
  options.setup_form = "plain";
  options.stub = (directory / "stub.exe").string();
  options.output = (directory / "packed.exe").string();
  std::ostringstream errors;
  ASSERT_EQ(Pack(options, {}, errors), 0) << errors.str();
  stub = ReadBytes(directory / "packed.exe");
  std::filesystem::remove_all(directory);
}

TEST_F(PackedImageTest, CertificateOfTheStubIsDropped) {
  Bytes stub = stub_;
  const PeImage image = ReadImage(stub);
  const std::uint32_t table_offset = static_cast<std::uint32_t>(stub.size());
  // Not 0xCC: lld fills the rest of the code section's last page with int3.
  stub.resize(stub.size() + 64, 0xA5);
  WriteUint32(&stub[image.optional_header_offset + kOptionalDataDirectoryOffset + 8 * kCertificateDirectory],
              table_offset);
  WriteUint32(&stub[image.optional_header_offset + kOptionalDataDirectoryOffset + 8 * kCertificateDirectory + 4], 64);
  std::string message;
  Bytes output;
  ASSERT_EQ(PackWith(stub, Bytes(10, 'a'), message, output), 0) << message;
  const PeImage packed = ReadImage(output);
  EXPECT_EQ(packed.directories[kCertificateDirectory].virtual_address, 0u);
  EXPECT_EQ(packed.directories[kCertificateDirectory].size, 0u);
  EXPECT_EQ(std::search_n(output.begin(), output.end(), 64, 0xA5), output.end());
}

TEST(DosDateTimeTest, ConvertsUtcSecondsAndClampsToTheFormat) {
  const auto pair = [](std::int64_t seconds) {
    const DosDateTime stamp = DosDateTimeOf(seconds);
    return std::pair<int, int>(stamp.date, stamp.time);
  };
  EXPECT_EQ(pair(1700000000), std::pair(((2023 - 1980) << 9) | (11 << 5) | 14,
                                        (22 << 11) | (13 << 5) | (20 / 2)));  // 2023-11-14 22:13:20
  EXPECT_EQ(pair(0), std::pair((0 << 9) | (1 << 5) | 1, 0));                  // before 1980
  EXPECT_EQ(pair(9000000000), std::pair((127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29));  // after 2107
}

}  // namespace
