// A vendor's icon and version block: the .ico files and texts packing refuses, the version block
// read from the real stub and written back, and a packed installer that carries the vendor's fields,
// the vendor's icon and the stub's manifest unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include "byte_source.h"
#include "icon_file.h"
#include "little_endian.h"
#include "pe_format.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "stub_packing_test.h"
#include "text_encoding.h"
#include "vendor_resources.h"
#include "version_block.h"

namespace {

// An icon file's directory with one entry per (size, offset), followed by `body`.
Bytes IconFile(std::vector<std::pair<std::uint32_t, std::uint32_t>> entries, const Bytes& body) {
  Bytes file;
  AppendUint16(file, 0);
  AppendUint16(file, 1);
  AppendUint16(file, static_cast<std::uint16_t>(entries.size()));
  for (const auto& [size, offset] : entries) {
    file.insert(file.end(), {16, 16, 0, 0});
    AppendUint16(file, 1);
    AppendUint16(file, 32);
    AppendUint32(file, size);
    AppendUint32(file, offset);
  }
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes Bitmap(std::size_t size) {
  Bytes bytes(size);
  WriteUint32(bytes.data(), 40);
  return bytes;
}

// Two bitmap headers 12 bytes apart, after a directory of two entries.
Bytes OverlappingBitmaps() {
  Bytes bytes = Bitmap(52);
  WriteUint32(&bytes[12], 40);
  return bytes;
}

TEST(IconFileTest, MalformedFilesAreRefusedWithWhatIsWrong) {
  const struct {
    const char* what;
    Bytes file;
    const char* reason;
  } cases[] = {
      {"empty", {}, "is not an icon file"},
      {"a cursor", Bytes{0, 0, 2, 0, 1, 0}, "is not an icon file"},
      {"no images", IconFile({}, {}), "holds no image"},
      {"too many images", IconFile(std::vector<std::pair<std::uint32_t, std::uint32_t>>(65, {40, 1046}), Bitmap(40)),
       "holds 65 images"},
      {"directory cut short", Bytes{0, 0, 1, 0, 2, 0, 16, 16}, "is cut short"},
      {"empty image", IconFile({{0, 22}}, Bitmap(40)), "image 1 is empty"},
      {"image past the end", IconFile({{41, 22}}, Bitmap(40)), "image 1 lies outside the file"},
      {"image inside the directory", IconFile({{40, 6}}, Bitmap(40)), "image 1 lies outside the file"},
      {"offset that wraps", IconFile({{40, 0xFFFFFFF0}}, Bitmap(40)), "image 1 lies outside the file"},
      {"overlapping images", IconFile({{40, 38}, {40, 50}}, OverlappingBitmaps()), "images that overlap"},
      {"unknown format", IconFile({{8, 22}}, Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}),
       "neither a PNG image nor a bitmap"},
  };
  for (const auto& c : cases) {
    std::vector<IconImage> images;
    std::string error;
    EXPECT_FALSE(ReadIconFile(c.file, images, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(IconFileTest, EveryImageIsKeptAndTheGroupNamesThemInOrder) {
  const Bytes file = ReadBytes(DRELIX_PACK_TEST_ICON);
  std::vector<IconImage> images;
  std::string error;
  ASSERT_TRUE(ReadIconFile(file, images, error)) << error;
  ASSERT_EQ(images.size(), 3u);
  EXPECT_FALSE(images[0].png);
  EXPECT_TRUE(images[2].png);
  EXPECT_EQ(images[2].width, 256);  // stored as 0 in the directory
  std::vector<IconGroupEntry> group;
  ASSERT_TRUE(ReadIconGroup(IconGroupBytes(images, 7), group, error)) << error;
  ASSERT_EQ(group.size(), 3u);
  EXPECT_EQ(group[0].width, 32);
  EXPECT_EQ(group[1].id, 8);
  EXPECT_EQ(group[2].width, 256);
  EXPECT_EQ(group[2].bit_count, 32);
}

TEST(VersionTextTest, NumbersAndTextsThatCannotBeStoredAreRefused) {
  using Numbers = std::array<std::uint16_t, 4>;
  EXPECT_EQ(ParseVersionNumbers("1"), (Numbers{1, 0, 0, 0}));
  EXPECT_EQ(ParseVersionNumbers("2.5.65535.0"), (Numbers{2, 5, 65535, 0}));
  for (const char* refused : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "-1", "+1", "1.2a", "v1.2", "1 .2"}) {
    EXPECT_EQ(ParseVersionNumbers(refused), std::nullopt) << refused;
  }
  EXPECT_EQ(CheckVersionText("--product-name", "Zarvelo Büro 2027 ™"), std::nullopt);
  EXPECT_EQ(CheckVersionText("--product-name", std::string(256, 'x')), std::nullopt);
  const struct {
    std::string text;
    const char* reason;
  } refused[] = {
      {std::string(257, 'x'), "is 257 characters long"},
      {"two\nlines", "holds a control character"},
      {"tab\there", "holds a control character"},
      {"bell\x7f", "holds a control character"},
      {"\xff\xfe", "is not valid UTF-8"},
      {"", "is empty"},
  };
  for (const auto& c : refused) {
    const std::optional<std::string> refusal = CheckVersionText("--copyright", c.text);
    ASSERT_TRUE(refusal.has_value()) << c.reason;
    EXPECT_NE(refusal->find(c.reason), std::string::npos) << *refusal;
  }
}

// The stub's own block, as the resource compiler wrote it, reads whole and writes back the same.
TEST_F(StubPackingTest, StubVersionBlockReadsAndWritesBackByteForByte) {
  MemoryByteSource source(stub_);
  PeImage image;
  std::vector<ResourceItem> items;
  std::string error;
  ASSERT_TRUE(ReadPeImage(source, image, error) && ReadResourceTree(image, source, items, error)) << error;
  const auto version = std::find_if(items.begin(), items.end(), [](const ResourceItem& item) {
    return item.type == ResourceKey::Id(kVersionResourceType);
  });
  ASSERT_NE(version, items.end());
  std::uint64_t offset = 0;
  ASSERT_TRUE(image.FileOffsetOf(version->content.data_rva, version->content.size, offset));
  const Bytes bytes(stub_.begin() + static_cast<std::ptrdiff_t>(offset),
                    stub_.begin() + static_cast<std::ptrdiff_t>(offset + version->content.size));
  VersionBlock block;
  ASSERT_TRUE(ReadVersionBlock(bytes, block, error)) << error;
  EXPECT_EQ(block.file_version, (std::array<std::uint16_t, 4>{1, 0, 0, 0}));
  EXPECT_EQ(block.string_table, u"040904B0");
  ASSERT_NE(block.Find(u"ProductName"), nullptr);
  EXPECT_EQ(*block.Find(u"ProductName"), u"Drelix");
  EXPECT_EQ(block.language, 0x0409);
  EXPECT_EQ(block.code_page, 1200);
  Bytes written;
  ASSERT_TRUE(VersionBlockBytes(block, written, error)) << error;
  EXPECT_EQ(written, bytes);
  // Texts that would pass the 16-bit lengths are refused, not wrapped.
  for (int index = 0; index < 200; ++index)
    block.Set(u"Text" + Utf16FromUtf8(std::to_string(index)), std::u16string(200, u'x'));
  EXPECT_FALSE(VersionBlockBytes(block, written, error));
  EXPECT_NE(error.find("its lengths hold at most 65535"), std::string::npos) << error;

  // Cut short anywhere, it is refused or read without going past its bytes.
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    VersionBlock partial;
    static_cast<void>(
        ReadVersionBlock(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)), partial, error));
  }
}

class VendorPackingTest : public StubPackingTest {
 protected:
  // The resources of `installer` and the bytes of each.
  std::vector<std::pair<ResourceItem, Bytes>> Resources(const Bytes& installer) {
    MemoryByteSource source(installer);
    PeImage image;
    std::vector<ResourceItem> items;
    std::string error;
    EXPECT_TRUE(ReadPeImage(source, image, error) && ReadResourceTree(image, source, items, error)) << error;
    std::vector<std::pair<ResourceItem, Bytes>> resources;
    for (const ResourceItem& item : items) {
      std::uint64_t offset = 0;
      EXPECT_TRUE(image.FileOffsetOf(item.content.data_rva, item.content.size, offset));
      resources.emplace_back(item, Bytes(installer.begin() + static_cast<std::ptrdiff_t>(offset),
                                         installer.begin() + static_cast<std::ptrdiff_t>(offset + item.content.size)));
    }
    return resources;
  }

  static const Bytes* Find(const std::vector<std::pair<ResourceItem, Bytes>>& resources, std::uint16_t type,
                           std::uint16_t id) {
    for (const auto& [item, bytes] : resources) {
      if (item.type == ResourceKey::Id(type) && item.name == ResourceKey::Id(id)) return &bytes;
    }
    return nullptr;
  }
};

TEST_F(VendorPackingTest, InstallerCarriesTheVendorsFieldsAndIconAndTheStubsManifest) {
  PackOptions options;
  options.archive = Input("archive.bin", Bytes(5000, 'a')).string();
  options.setup = Input("setup.bin", SmallestProgramImage()).string();
  options.setup_form = "plain";
  options.stub = Input("stub.exe", stub_).string();
  options.output = (directory_ / "ProductSetup.exe").string();
  options.icon = DRELIX_PACK_TEST_ICON;
  options.product_name = "Halvex Studio";
  options.product_version = "2027.1";
  options.file_version = "2027.1.4.77";
  std::ostringstream errors;
  ASSERT_EQ(Pack(options, {}, errors), 0) << errors.str();

  const auto packed = Resources(ReadBytes(options.output));
  const auto stub = Resources(stub_);
  ASSERT_NE(Find(packed, kManifestResourceType, 1), nullptr);
  EXPECT_EQ(*Find(packed, kManifestResourceType, 1), *Find(stub, kManifestResourceType, 1));

  VersionBlock block;
  std::string error;
  ASSERT_TRUE(ReadVersionBlock(*Find(packed, kVersionResourceType, 1), block, error)) << error;
  EXPECT_EQ(block.product_version, (std::array<std::uint16_t, 4>{2027, 1, 0, 0}));
  EXPECT_EQ(block.file_version, (std::array<std::uint16_t, 4>{2027, 1, 4, 77}));
  EXPECT_EQ(*block.Find(u"ProductName"), u"Halvex Studio");
  EXPECT_EQ(*block.Find(u"ProductVersion"), u"2027.1");
  EXPECT_EQ(*block.Find(u"FileVersion"), u"2027.1.4.77");
  EXPECT_EQ(*block.Find(u"OriginalFilename"), u"ProductSetup.exe");
  EXPECT_EQ(*block.Find(u"CompanyName"), u"Zarvelo") << "what is not given keeps the stub's text";

  std::vector<IconImage> images;
  ASSERT_TRUE(ReadIconFile(ReadBytes(DRELIX_PACK_TEST_ICON), images, error)) << error;
  ASSERT_NE(Find(packed, kGroupIconResourceType, 1), nullptr);
  EXPECT_EQ(*Find(packed, kGroupIconResourceType, 1), IconGroupBytes(images, 1));
  for (std::uint16_t id = 1; id <= images.size(); ++id) {
    ASSERT_NE(Find(packed, kIconResourceType, id), nullptr) << id;
    EXPECT_EQ(*Find(packed, kIconResourceType, id), images[id - 1].bytes) << id;
  }
  EXPECT_EQ(Find(packed, kIconResourceType, static_cast<std::uint16_t>(images.size() + 1)), nullptr);
}

TEST_F(VendorPackingTest, RefusalsWriteNothing) {
  const struct {
    const char* what;
    const char* option;
    std::string value;
    const char* reason;
  } cases[] = {
      {"malformed icon", "icon", "bad.ico", "bad.ico\" is not an icon file (no icon directory at its start)"},
      {"empty icon", "icon", "empty.ico", "empty.ico\" is empty; an icon file holds at least one image"},
      {"version text", "file-description", std::string(300, 'd'), "--file-description is 300 characters long"},
      {"version numbers", "file-version", "1.2.3.4.5", "--file-version \"1.2.3.4.5\" must be one to four numbers"},
  };
  WriteBytes(directory_ / "bad.ico", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'c', 'o', 'n'});
  WriteBytes(directory_ / "empty.ico", {});
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"--archive", Input("archive.bin", Bytes(10, 'a')).string(),
                                          "--setup",   Input("setup.bin", SmallestProgramImage()).string(),
                                          "--output",  (directory_ / "out.exe").string()};
    arguments.push_back(std::string("--") + c.option);
    arguments.push_back(std::string(c.option) == "icon" ? (directory_ / c.value).string() : c.value);
    CommandLine command_line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(arguments, command_line, error)) << error;
    std::ostringstream errors;
    EXPECT_EQ(Pack(command_line.pack, stub_, errors), 1) << c.what;
    EXPECT_NE(errors.str().find(c.reason), std::string::npos) << errors.str();
    EXPECT_FALSE(std::filesystem::exists(directory_ / "out.exe")) << c.what;
  }
  // The icon is an input like the others: an output that is the icon file is refused, the file kept.
  const Bytes icon = ReadBytes(DRELIX_PACK_TEST_ICON);
  PackOptions options;
  options.archive = Input("archive.bin", Bytes(10, 'a')).string();
  options.setup = Input("setup.bin", SmallestProgramImage()).string();
  options.icon = options.output = Input("vendor.ico", icon).string();
  std::ostringstream errors;
  EXPECT_EQ(Pack(options, stub_, errors), 1);
  EXPECT_NE(errors.str().find("is the same file as --icon"), std::string::npos) << errors.str();
  EXPECT_EQ(ReadBytes(directory_ / "vendor.ico"), icon);
}

}  // namespace
