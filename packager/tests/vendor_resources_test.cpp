// A vendor's icon and version block: the .ico files and texts packing refuses, the version block
// read from the real stub and written back, and a packed installer that carries the vendor's fields,
// the vendor's icon and the stub's manifest unchanged.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"
#include "host/byte_source.h"
#include "image/icon_file.h"
#include "image/pe_format.h"
#include "image/pe_image.h"
#include "image/resource_tree.h"
#include "image/version_block.h"
#include "pack/vendor_resources.h"
#include "stub_packing_test.h"
#include "tool/command_line_options.h"

namespace {

// An icon file's directory with one 16x16 32-bit entry per (size, offset), followed by `body`.
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

struct IconEntry {
  std::uint8_t width = 16;  // as the directory states it: 0 for 256
  std::uint8_t height = 16;
  std::uint16_t bit_count = 32;
  Bytes image;
};

// An icon file of `entries`, their images one after the other behind the directory.
Bytes IconFileOf(const std::vector<IconEntry>& entries) {
  Bytes file;
  AppendUint16(file, 0);
  AppendUint16(file, 1);
  AppendUint16(file, static_cast<std::uint16_t>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (const IconEntry& entry : entries) {
    file.insert(file.end(), {entry.width, entry.height, 0, 0});
    AppendUint16(file, 1);
    AppendUint16(file, entry.bit_count);
    AppendUint32(file, static_cast<std::uint32_t>(entry.image.size()));
    AppendUint32(file, offset);
    offset += static_cast<std::uint32_t>(entry.image.size());
  }
  for (const IconEntry& entry : entries) file.insert(file.end(), entry.image.begin(), entry.image.end());
  return file;
}

// A bitmap image as an icon holds it: the header (height counting the mask), the colour table, the
// colour rows and the mask rows; `size` overrides the size that makes it whole.
Bytes Bitmap(std::int32_t width, std::int32_t height, std::uint16_t bit_count = 32, std::uint16_t planes = 1,
             std::size_t size = 0) {
  const std::size_t colours = bit_count <= 8 ? std::size_t{1} << bit_count : 0;
  const std::size_t rows = height > 0 ? static_cast<std::size_t>(height) : 0;
  const std::size_t colour_row = (static_cast<std::size_t>(width > 0 ? width : 0) * bit_count + 31) / 32 * 4;
  const std::size_t mask_row = (static_cast<std::size_t>(width > 0 ? width : 0) + 31) / 32 * 4;
  Bytes bytes(size != 0 ? size : 40 + 4 * colours + (colour_row + mask_row) * rows);
  WriteUint32(bytes.data(), 40);
  WriteUint32(&bytes[4], static_cast<std::uint32_t>(width));
  WriteUint32(&bytes[8], static_cast<std::uint32_t>(2 * height));
  WriteUint16(&bytes[12], planes);
  WriteUint16(&bytes[14], bit_count);
  return bytes;
}

// A PNG's signature and IHDR chunk, with `tail` more bytes (its other chunks, not read here).
Bytes Png(std::uint32_t width, std::uint32_t height, std::uint8_t depth = 8, std::uint8_t colour_type = 6,
          bool crc_right = true) {
  Bytes bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (std::uint32_t value : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  bytes.insert(bytes.end(), {depth, colour_type, 0, 0, 0});
  const auto crc = static_cast<std::uint32_t>(crc32(0, &bytes[12], 17)) ^ (crc_right ? 0u : 1u);
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(crc >> shift));
  bytes.resize(bytes.size() + 20);  // IDAT and IEND, as far as the reader is concerned
  return bytes;
}

TEST(IconFileTest, MalformedFilesAreRefusedWithWhatIsWrong) {
  const Bytes good = Bitmap(16, 16);
  Bytes png_signature_only = Png(16, 16);
  png_signature_only.resize(8);
  const struct {
    const char* what;
    Bytes file;
    const char* reason;
  } cases[] = {
      {"empty", {}, "is not an icon file"},
      {"a cursor", Bytes{0, 0, 2, 0, 1, 0}, "is not an icon file"},
      {"no images", IconFile({}, {}), "holds no image"},
      {"too many images", IconFileOf(std::vector<IconEntry>(65, {16, 16, 32, good})), "holds 65 images"},
      {"directory cut short", Bytes{0, 0, 1, 0, 2, 0, 16, 16}, "is cut short"},
      {"empty image", IconFile({{0, 22}}, good), "image 1 is empty"},
      {"image past the end", IconFile({{1129, 22}}, good), "image 1 lies outside the file"},
      {"image inside the directory", IconFile({{40, 6}}, good), "image 1 lies outside the file"},
      {"offset that wraps", IconFile({{40, 0xFFFFFFF0}}, good), "image 1 lies outside the file"},
      {"overlapping images", IconFile({{1128, 38}, {1128, 38}}, good), "images that overlap"},
      {"unknown format", IconFile({{8, 22}}, Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}),
       "image 1: it is neither a PNG image nor a bitmap"},
      // Bitmaps Windows' icon API cannot make an icon of.
      {"pixels cut short", IconFileOf({{16, 16, 32, Bitmap(16, 16, 32, 1, 50)}}),
       "image 1: its bitmap is cut short: 50 bytes where a 16x16 32-bit image with its colour table and mask needs "
       "1128"},
      {"mask cut short", IconFileOf({{16, 16, 32, Bitmap(16, 16, 32, 1, 1127)}}), "needs 1128"},
      {"colour table cut short", IconFileOf({{16, 16, 8, Bitmap(16, 16, 8, 1, 40 + 1023)}}), "needs 1384"},
      {"negative width", IconFileOf({{16, 16, 32, Bitmap(-16, 16)}}), "its bitmap is -16 pixels wide"},
      {"negative height", IconFileOf({{16, 16, 32, Bitmap(16, -16)}}), "its bitmap is -32 pixels high"},
      {"width past 256", IconFileOf({{0, 0, 32, Bitmap(257, 257)}}), "its bitmap is 257 pixels wide"},
      {"999 bits", IconFileOf({{16, 16, 0, Bitmap(16, 16, 999)}}), "its bitmap has 999 bits per pixel"},
      {"0 bits", IconFileOf({{16, 16, 0, Bitmap(16, 16, 0)}}), "its bitmap has 0 bits per pixel"},
      {"0 planes", IconFileOf({{16, 16, 32, Bitmap(16, 16, 32, 0)}}), "its bitmap has 0 planes, not 1"},
      {"directory larger than the bitmap", IconFileOf({{0, 0, 32, good}}),
       "image 1 is a 16x16 bitmap where the directory says 256x256"},
      {"directory's bit count", IconFileOf({{16, 16, 8, good}}),
       "image 1 is a 32-bit bitmap where the directory says 8-bit"},
      // PNGs a decoder refuses at their header.
      {"PNG of its signature alone", IconFileOf({{16, 16, 32, png_signature_only}}), "its PNG has no IHDR chunk"},
      {"PNG of a huge size", IconFileOf({{0, 0, 32, Png(100000, 100000)}}),
       "its PNG is 100000x100000 pixels; an icon image is 1 to 256 pixels a side"},
      {"PNG of no size", IconFileOf({{16, 16, 32, Png(0, 16)}}), "its PNG is 0x16 pixels"},
      {"PNG's header damaged", IconFileOf({{16, 16, 32, Png(16, 16, 8, 6, false)}}), "fails its CRC"},
      {"PNG's colour type", IconFileOf({{16, 16, 32, Png(16, 16, 8, 5)}}), "colour type 5 at bit depth 8"},
      {"PNG's bit depth", IconFileOf({{16, 16, 32, Png(16, 16, 3, 6)}}), "colour type 6 at bit depth 3"},
      {"PNG smaller than its entry", IconFileOf({{0, 0, 32, Png(48, 48)}}),
       "image 1 is a 48x48 PNG where the directory says 256x256"},
  };
  for (const auto& c : cases) {
    std::vector<IconImage> images;
    std::string error;
    EXPECT_FALSE(ReadIconFile(c.file, images, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(IconFileTest, ImagesWindowsDrawsAreKeptWithTheirOwnSizesAndDepths) {
  const struct {
    const char* what;
    IconEntry entry;
    std::uint16_t width, height, bit_count;
  } cases[] = {
      {"16-colour bitmap", {32, 32, 4, Bitmap(32, 32, 4)}, 32, 32, 4},
      {"monochrome bitmap, depth left to the header", {48, 48, 0, Bitmap(48, 48, 1)}, 48, 48, 1},
      {"256 pixels", {0, 0, 32, Bitmap(256, 256)}, 256, 256, 32},
      {"wider than high", {32, 16, 24, Bitmap(32, 16, 24)}, 32, 16, 24},
      {"PNG, depth left to the header", {0, 0, 0, Png(256, 256)}, 256, 256, 32},
      {"palette PNG", {64, 64, 8, Png(64, 64, 8, 3)}, 64, 64, 8},
  };
  for (const auto& c : cases) {
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(ReadIconFile(IconFileOf({c.entry}), images, error)) << c.what << ": " << error;
    EXPECT_EQ(images[0].width, c.width) << c.what;
    EXPECT_EQ(images[0].height, c.height) << c.what;
    EXPECT_EQ(images[0].bit_count, c.bit_count) << c.what;
    EXPECT_EQ(images[0].planes, 1) << c.what;
  }
  // As many images as an icon may hold.
  std::vector<IconImage> images;
  std::string error;
  EXPECT_TRUE(
      ReadIconFile(IconFileOf(std::vector<IconEntry>(kMostIconImages, {16, 16, 32, Bitmap(16, 16)})), images, error))
      << error;
  EXPECT_EQ(images.size(), kMostIconImages);
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

// A group read from an installer --inspect does not trust: its count may claim more entries than
// its bytes hold.
TEST(IconFileTest, GroupThatClaimsMoreEntriesThanItHoldsIsRefused) {
  std::vector<IconImage> images(2);
  for (IconImage& image : images) image = {16, 16, 0, 1, 32, false, Bitmap(16, 16)};
  const Bytes whole = IconGroupBytes(images, 1);
  std::vector<IconGroupEntry> entries;
  std::string error;
  ASSERT_TRUE(ReadIconGroup(whole, entries, error)) << error;
  for (std::size_t size : {std::size_t{6}, std::size_t{6 + 14}, whole.size() - 1}) {
    Bytes claimed(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    WriteUint16(&claimed[4], 2);
    EXPECT_FALSE(ReadIconGroup(claimed, entries, error)) << size;
    EXPECT_EQ(error, "the icon group is cut short") << size;
  }
}

TEST(VersionTextTest, NumbersAndTextsThatCannotBeStoredAreRefused) {
  using Numbers = std::array<std::uint16_t, 4>;
  const struct {
    const char* text;
    Numbers numbers;
  } read[] = {
      {"1", {1, 0, 0, 0}},
      {"2.5.65535.0", {2, 5, 65535, 0}},
      {"2.3.1-beta", {2, 3, 1, 0}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {"2027 beta", {2027, 0, 0, 0}},
      {"1.", {1, 0, 0, 0}},
      {"1..2", {1, 0, 0, 0}},
      {"1.2a", {1, 2, 0, 0}},
  };
  for (const auto& c : read) EXPECT_EQ(ParseVersionNumbers(c.text), c.numbers) << c.text;
  for (const char* refused : {"", ".1", "65536", "1.65536", "-1", "+1", "v1.2", " 1"}) {
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
      {"\xff\xfe", "is not valid text"},
      {Wtf8FromUtf16(u"lone \xD800 surrogate"), "is not valid text"},
      {"", "is empty"},
  };
  for (const auto& c : refused) {
    const std::optional<std::string> refusal = CheckVersionText("--copyright", c.text);
    ASSERT_TRUE(refusal.has_value()) << c.reason;
    EXPECT_NE(refusal->find(c.reason), std::string::npos) << *refusal;
  }
}

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
  ASSERT_EQ(block.string_tables.size(), 1u);
  EXPECT_EQ(block.string_tables[0].key, u"040904B0");
  ASSERT_NE(block.Find(u"ProductName"), nullptr);
  EXPECT_EQ(*block.Find(u"ProductName"), u"Drelix");
  EXPECT_EQ(block.translations, (std::vector<VersionTranslation>{{0x0409, 1200}}));
  Bytes written;
  ASSERT_TRUE(VersionBlockBytes(block, written, error)) << error;
  EXPECT_EQ(written, bytes);
  // Texts that would pass the 16-bit lengths are refused, not wrapped.
  VersionBlock large = block;
  for (int index = 0; index < 200; ++index)
    large.Set(u"Text" + Utf16FromUtf8(std::to_string(index)), std::u16string(200, u'x'));
  EXPECT_FALSE(VersionBlockBytes(large, written, error));
  EXPECT_NE(error.find("its lengths hold at most 65535"), std::string::npos) << error;

  // Cut short anywhere, it is refused: the root's length reaches past the bytes there are.
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    VersionBlock partial;
    error.clear();
    EXPECT_FALSE(
        ReadVersionBlock(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)), partial, error))
        << size;
    EXPECT_FALSE(error.empty()) << size;
  }
}

// A block of `count` short texts "T0"="x" ..., in `tables` tables taken in turn.
VersionBlock BlockOfTexts(std::size_t count, std::size_t tables) {
  VersionBlock block;
  block.string_tables.resize(tables);
  for (std::size_t index = 0; index < count; ++index) {
    block.string_tables[index % tables].strings.emplace_back(Utf16FromUtf8("T" + std::to_string(index)), u"x");
  }
  return block;
}

std::size_t OffsetOfNode(const Bytes& bytes, std::u16string_view key) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(key.data());
  const auto found = std::search(bytes.begin(), bytes.end(), first, first + 2 * key.size());
  return static_cast<std::size_t>(found - bytes.begin()) - 6;  // the key follows the 6-byte header
}

TEST(VersionBlockTest, TextsUpToTheLimitAreWrittenAndReadOneMoreIsRefusedByBoth) {
  Bytes bytes;
  std::string error;
  VersionBlock read;
  for (std::size_t tables : {1, 2}) {
    ASSERT_TRUE(VersionBlockBytes(BlockOfTexts(kMostVersionTexts, tables), bytes, error)) << error;
    ASSERT_TRUE(ReadVersionBlock(bytes, read, error)) << error;
    EXPECT_EQ(read, BlockOfTexts(kMostVersionTexts, tables));
    EXPECT_FALSE(VersionBlockBytes(BlockOfTexts(kMostVersionTexts + 1, tables), bytes, error));
    EXPECT_EQ(error, "the version block would hold 257 texts; at most 256 are read back");
  }
  // One text more, as another tool could write it: the last text node once more at the end of its
  // table, which ends the block, and the table, StringFileInfo and the root each that much longer.
  ASSERT_TRUE(VersionBlockBytes(BlockOfTexts(kMostVersionTexts, 1), bytes, error)) << error;
  const Bytes last(bytes.begin() + static_cast<std::ptrdiff_t>(OffsetOfNode(bytes, u"T255")), bytes.end());
  for (std::size_t node : {std::size_t{0}, OffsetOfNode(bytes, u"StringFileInfo"), OffsetOfNode(bytes, u"040904B0")}) {
    WriteUint16(&bytes[node], static_cast<std::uint16_t>(ReadUint16(&bytes[node]) + last.size()));
  }
  bytes.insert(bytes.end(), last.begin(), last.end());
  EXPECT_FALSE(ReadVersionBlock(bytes, read, error));
  EXPECT_EQ(error, "the version block holds too many texts");
}

// The stub's version resources as other resource compilers lay them out, edited as the version API
// will read them.
ResourceItem VersionItem(const VersionBlock& block, std::uint16_t language) {
  ResourceItem item{ResourceKey::Id(kVersionResourceType), ResourceKey::Id(1), language, 0, {}};
  std::string error;
  EXPECT_TRUE(VersionBlockBytes(block, item.content.bytes, error)) << error;
  item.content.size = item.content.bytes.size();
  return item;
}

VersionBlock StubBlock(std::vector<std::u16string> table_keys, std::u16string_view product_name_key,
                       VersionTranslation translation) {
  VersionBlock block;
  for (const std::u16string& key : table_keys) {
    block.string_tables.push_back(
        {key, {{std::u16string(product_name_key), u"Drelix"}, {u"InternalName", u"installer"}}});
  }
  block.translations.push_back(translation);
  return block;
}

TEST(VendorVersionTest, EveryResourceAndEveryTableTakesTheTextsUnderTheirUsualKeys) {
  PackOptions options;
  options.product_name = "Halvex Studio";
  options.product_version = "2.3.1-beta";
  const struct {
    const char* what;
    std::vector<ResourceItem> items;
  } cases[] = {
      {"two languages",
       {VersionItem(StubBlock({u"040704B0"}, u"ProductName", {0x0407, 1200}), 1031),
        VersionItem(StubBlock({u"040904B0"}, u"ProductName", {0x0409, 1200}), 1033)}},
      {"two tables", {VersionItem(StubBlock({u"040704B0", u"040904B0"}, u"ProductName", {0x0409, 1200}), 1033)}},
      {"lower-case key", {VersionItem(StubBlock({u"040904B0"}, u"productname", {0x0409, 1200}), 1033)}},
      {"upper-case key twice",
       {VersionItem(
           [] {
             VersionBlock block = StubBlock({u"040904B0"}, u"PRODUCTNAME", {0x0409, 1200});
             block.string_tables[0].strings.emplace_back(u"ProductName", u"Drelix");
             return block;
           }(),
           1033)}},
      {"no version block", {}},
  };
  for (const auto& c : cases) {
    std::vector<ResourceItem> items = c.items;
    std::string error;
    ASSERT_TRUE(ApplyVendorResources(options, nullptr, "setup.exe", items, error)) << c.what << ": " << error;
    ASSERT_EQ(items.size(), std::max<std::size_t>(c.items.size(), 1)) << c.what;
    for (const ResourceItem& item : items) {
      VersionBlock block;
      ASSERT_TRUE(ReadVersionBlock(item.content.bytes, block, error)) << c.what << ": " << error;
      EXPECT_EQ(block.product_version, (std::array<std::uint16_t, 4>{2, 3, 1, 0})) << c.what;
      for (const VersionStringTable& table : block.string_tables) {
        std::vector<std::pair<std::u16string, std::u16string>> expected = {{u"ProductName", u"Halvex Studio"}};
        if (!c.items.empty()) expected.emplace_back(u"InternalName", u"installer");
        expected.emplace_back(u"ProductVersion", u"2.3.1-beta");
        expected.emplace_back(u"OriginalFilename", u"setup.exe");
        EXPECT_EQ(table.strings, expected) << c.what << ", language " << item.language;
      }
    }
  }
}

TEST(VendorVersionTest, StubWhoseTranslationNamesNoTableIsRefused) {
  std::vector<ResourceItem> items = {VersionItem(StubBlock({u"040704B0"}, u"ProductName", {0x0409, 1200}), 1033)};
  PackOptions options;
  options.product_name = "Halvex Studio";
  std::string error;
  EXPECT_FALSE(ApplyVendorResources(options, nullptr, "setup.exe", items, error));
  EXPECT_EQ(error,
            "the stub's version block has no string table 040904B0 for its translation, where the version API would "
            "look for the texts (language 1033)");
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
      {"version numbers", "file-version", "beta", "--file-version \"beta\" must begin with a version number"},
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
