#include "image/icon_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "encoding/little_endian.h"

namespace {

// ICONDIR and its 16-byte entries; the group resource's GRPICONDIR and its 14-byte entries, which
// carry an RT_ICON id where the file has an offset.
constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kFileEntrySize = 16;
constexpr std::size_t kGroupEntrySize = 14;
constexpr std::uint16_t kIconType = 1;

// A PNG starts with its signature and then its IHDR chunk: length, type, 13 bytes of data, CRC.
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kHeaderChunkType[] = {'I', 'H', 'D', 'R'};
constexpr std::uint32_t kHeaderChunkLength = 13;
constexpr std::size_t kPngHeaderEnd = sizeof kPngSignature + 8 + kHeaderChunkLength + 4;

// BITMAPINFOHEADER, the header of every bitmap image in an icon.
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
constexpr std::uint32_t kUncompressed = 0;  // BI_RGB

std::uint16_t Pixels(std::uint8_t field) { return field == 0 ? 256 : field; }

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

std::string Size(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

// The bits per pixel of a PNG's colour type at its bit depth, or 0 for a pair the format does not
// define (which no decoder draws).
std::uint16_t PngBitsPerPixel(std::uint8_t colour_type, std::uint8_t depth) {
  const auto one_of = [depth](std::initializer_list<std::uint8_t> depths) {
    return std::find(depths.begin(), depths.end(), depth) != depths.end();
  };
  switch (colour_type) {
    case 0:  // greyscale
      return one_of({1, 2, 4, 8, 16}) ? depth : 0;
    case 2:  // RGB
      return one_of({8, 16}) ? static_cast<std::uint16_t>(3 * depth) : 0;
    case 3:  // palette
      return one_of({1, 2, 4, 8}) ? depth : 0;
    case 4:  // greyscale and alpha
      return one_of({8, 16}) ? static_cast<std::uint16_t>(2 * depth) : 0;
    case 6:  // RGBA
      return one_of({8, 16}) ? static_cast<std::uint16_t>(4 * depth) : 0;
    default:
      return 0;
  }
}

bool ReadPngFormat(std::span<const std::uint8_t> bytes, IconImageFormat& format, std::string& error) {
  const std::uint8_t* chunk = bytes.data() + sizeof kPngSignature;
  if (bytes.size() < kPngHeaderEnd || ReadBigEndian32(chunk) != kHeaderChunkLength ||
      std::memcmp(chunk + 4, kHeaderChunkType, sizeof kHeaderChunkType) != 0) {
    return Fail(error, "its PNG has no IHDR chunk of 13 bytes within its " + std::to_string(bytes.size()) + " bytes");
  }
  const std::uint8_t* header = chunk + 8;
  const auto crc = static_cast<std::uint32_t>(crc32(0, chunk + 4, 4 + kHeaderChunkLength));
  if (crc != ReadBigEndian32(header + kHeaderChunkLength)) return Fail(error, "its PNG's IHDR chunk fails its CRC");
  const std::uint32_t width = ReadBigEndian32(header);
  const std::uint32_t height = ReadBigEndian32(header + 4);
  if (width == 0 || height == 0 || width > kLargestIconSide || height > kLargestIconSide) {
    return Fail(error, "its PNG is " + Size(width, height) + " pixels; an icon image is 1 to 256 pixels a side");
  }
  const std::uint8_t depth = header[8];
  const std::uint8_t colour_type = header[9];
  format.bit_count = PngBitsPerPixel(colour_type, depth);
  if (format.bit_count == 0) {
    return Fail(error, "its PNG has colour type " + std::to_string(colour_type) + " at bit depth " +
                           std::to_string(depth) + ", which PNG does not define");
  }
  if (header[10] != 0 || header[11] != 0 || header[12] > 1) {
    return Fail(error, "its PNG names a compression, filter or interlace method PNG does not define");
  }
  format.width = static_cast<std::uint16_t>(width);
  format.height = static_cast<std::uint16_t>(height);
  format.png = true;
  return true;
}

bool ReadBitmapFormat(std::span<const std::uint8_t> bytes, IconImageFormat& format, std::string& error) {
  if (bytes.size() < kBitmapInfoHeaderSize || ReadUint32(bytes.data()) != kBitmapInfoHeaderSize) {
    return Fail(error, "it is neither a PNG image nor a bitmap");
  }
  // Signed fields: a negative height would be a top-down bitmap, which an icon cannot be.
  const auto width = static_cast<std::int32_t>(ReadUint32(&bytes[4]));
  const auto height = static_cast<std::int32_t>(ReadUint32(&bytes[8]));
  const std::uint16_t planes = ReadUint16(&bytes[12]);
  const std::uint16_t bit_count = ReadUint16(&bytes[14]);
  const std::uint32_t compression = ReadUint32(&bytes[16]);
  const std::uint32_t colours_used = ReadUint32(&bytes[32]);
  if (width <= 0 || width > static_cast<std::int32_t>(kLargestIconSide)) {
    return Fail(error, "its bitmap is " + std::to_string(width) + " pixels wide; an icon image is 1 to 256");
  }
  // The bitmap holds the colour image and the transparency mask, one above the other.
  if (height <= 0 || height % 2 != 0 || height > 2 * static_cast<std::int32_t>(kLargestIconSide)) {
    return Fail(error, "its bitmap is " + std::to_string(height) +
                           " pixels high; an icon's bitmap is twice the icon's height (2 to 512)");
  }
  if (planes != 1) return Fail(error, "its bitmap has " + std::to_string(planes) + " planes, not 1");
  constexpr std::uint16_t kDrawnBitCounts[] = {1, 4, 8, 16, 24, 32};
  if (std::find(std::begin(kDrawnBitCounts), std::end(kDrawnBitCounts), bit_count) == std::end(kDrawnBitCounts)) {
    return Fail(error, "its bitmap has " + std::to_string(bit_count) + " bits per pixel; Windows draws 1, 4, 8, 16, " +
                           "24 or 32");
  }
  if (compression != kUncompressed) {
    return Fail(error, "its bitmap is compressed (method " + std::to_string(compression) + "); an icon's is not");
  }
  const std::uint64_t colours = colours_used != 0 ? colours_used : bit_count <= 8 ? 1u << bit_count : 0;
  const std::uint64_t icon_height = static_cast<std::uint64_t>(height) / 2;
  const std::uint64_t colour_row = (static_cast<std::uint64_t>(width) * bit_count + 31) / 32 * 4;
  const std::uint64_t mask_row = (static_cast<std::uint64_t>(width) + 31) / 32 * 4;
  const std::uint64_t needed = kBitmapInfoHeaderSize + 4 * colours + (colour_row + mask_row) * icon_height;
  if (needed > bytes.size()) {
    return Fail(error, "its bitmap is cut short: " + std::to_string(bytes.size()) + " bytes where a " +
                           Size(static_cast<std::uint64_t>(width), icon_height) + " " + std::to_string(bit_count) +
                           "-bit image with its colour table and mask needs " + std::to_string(needed));
  }
  format.width = static_cast<std::uint16_t>(width);
  format.height = static_cast<std::uint16_t>(icon_height);
  format.bit_count = bit_count;
  format.png = false;
  return true;
}

// Checks an image read from a file's directory against its own bytes and fills from them what the
// directory may leave out, as the resource compiler does; false with what is wrong, to follow the
// image's name.
bool CompleteImage(IconImage& image, std::string& reason) {
  IconImageFormat format;
  if (!ReadIconImageFormat(image.bytes, format, reason)) {
    reason.insert(0, ": ");
    return false;
  }
  // The group's entry is what the icon API picks a size by: it must be the image's own.
  const char* kind = format.png ? "PNG" : "bitmap";
  if (image.width != format.width || image.height != format.height) {
    return Fail(reason, " is a " + Size(format.width, format.height) + " " + kind + " where the directory says " +
                            Size(image.width, image.height));
  }
  if (image.bit_count != 0 && image.bit_count != format.bit_count) {
    return Fail(reason, " is a " + std::to_string(format.bit_count) + "-bit " + kind + " where the directory says " +
                            std::to_string(image.bit_count) + "-bit");
  }
  if (image.planes > 1) {
    return Fail(reason, "'s directory entry says " + std::to_string(image.planes) + " planes, not 1");
  }
  image.planes = 1;
  image.bit_count = format.bit_count;
  image.png = format.png;
  return true;
}

}  // namespace

bool ReadIconImageFormat(std::span<const std::uint8_t> bytes, IconImageFormat& format, std::string& error) {
  format = IconImageFormat{};
  const bool png =
      bytes.size() >= sizeof kPngSignature && std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) == 0;
  return png ? ReadPngFormat(bytes, format, error) : ReadBitmapFormat(bytes, format, error);
}

bool ReadIconFile(const std::vector<std::uint8_t>& file, std::vector<IconImage>& images, std::string& error) {
  images.clear();
  if (file.size() < kDirectorySize || ReadUint16(file.data()) != 0 || ReadUint16(&file[2]) != kIconType) {
    return Fail(error, "is not an icon file (no icon directory at its start)");
  }
  const std::size_t count = ReadUint16(&file[4]);
  if (count == 0) return Fail(error, "holds no image");
  if (count > kMostIconImages) {
    return Fail(error,
                "holds " + std::to_string(count) + " images; an icon holds at most " + std::to_string(kMostIconImages));
  }
  const std::size_t directory_end = kDirectorySize + kFileEntrySize * count;
  if (directory_end > file.size()) {
    return Fail(error, "is cut short: its directory names " + std::to_string(count) + " images");
  }
  std::vector<std::pair<std::size_t, std::size_t>> extents;
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t* entry = &file[kDirectorySize + kFileEntrySize * index];
    const std::size_t size = ReadUint32(entry + 8);
    const std::size_t offset = ReadUint32(entry + 12);
    const std::string which = "image " + std::to_string(index + 1);
    if (size == 0) return Fail(error, which + " is empty");
    if (offset < directory_end || offset > file.size() || size > file.size() - offset) {
      return Fail(error, which + " lies outside the file (" + std::to_string(size) + " bytes at offset " +
                             std::to_string(offset) + " of a " + std::to_string(file.size()) + "-byte file)");
    }
    IconImage image;
    image.width = Pixels(entry[0]);
    image.height = Pixels(entry[1]);
    image.color_count = entry[2];
    image.planes = ReadUint16(entry + 4);
    image.bit_count = ReadUint16(entry + 6);
    image.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                       file.begin() + static_cast<std::ptrdiff_t>(offset + size));
    std::string reason;
    if (!CompleteImage(image, reason)) return Fail(error, which + reason);
    extents.emplace_back(offset, offset + size);
    images.push_back(std::move(image));
  }
  std::sort(extents.begin(), extents.end());
  for (std::size_t index = 1; index < extents.size(); ++index) {
    if (extents[index].first < extents[index - 1].second) {
      return Fail(error, "has images that overlap (at offset " + std::to_string(extents[index].first) + ")");
    }
  }
  return true;
}

std::vector<std::uint8_t> IconGroupBytes(const std::vector<IconImage>& images, std::uint16_t first_id) {
  std::vector<std::uint8_t> bytes;
  AppendUint16(bytes, 0);
  AppendUint16(bytes, kIconType);
  AppendUint16(bytes, static_cast<std::uint16_t>(images.size()));
  for (std::size_t index = 0; index < images.size(); ++index) {
    const IconImage& image = images[index];
    bytes.push_back(static_cast<std::uint8_t>(image.width));  // 256 is stored as 0
    bytes.push_back(static_cast<std::uint8_t>(image.height));
    bytes.push_back(image.color_count);
    bytes.push_back(0);
    AppendUint16(bytes, image.planes);
    AppendUint16(bytes, image.bit_count);
    AppendUint32(bytes, static_cast<std::uint32_t>(image.bytes.size()));
    AppendUint16(bytes, static_cast<std::uint16_t>(first_id + index));
  }
  return bytes;
}

bool ReadIconGroup(const std::vector<std::uint8_t>& bytes, std::vector<IconGroupEntry>& entries, std::string& error) {
  entries.clear();
  if (bytes.size() < kDirectorySize || ReadUint16(&bytes[2]) != kIconType) {
    return Fail(error, "the icon group has no icon directory");
  }
  const std::size_t count = ReadUint16(&bytes[4]);
  if (kDirectorySize + kGroupEntrySize * count > bytes.size()) return Fail(error, "the icon group is cut short");
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t* entry = &bytes[kDirectorySize + kGroupEntrySize * index];
    entries.push_back({Pixels(entry[0]), Pixels(entry[1]), ReadUint16(entry + 6), ReadUint16(entry + 12)});
  }
  return true;
}
