#include "icon_file.h"

#include <algorithm>
#include <cstring>

#include "little_endian.h"

namespace {

// ICONDIR and its 16-byte entries; the group resource's GRPICONDIR and its 14-byte entries, which
// carry an RT_ICON id where the file has an offset.
constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kFileEntrySize = 16;
constexpr std::size_t kGroupEntrySize = 14;
constexpr std::uint16_t kIconType = 1;
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;

std::uint16_t Pixels(std::uint8_t field) { return field == 0 ? 256 : field; }

}  // namespace

bool ReadIconFile(const std::vector<std::uint8_t>& file, std::vector<IconImage>& images, std::string& error) {
  images.clear();
  if (file.size() < kDirectorySize || ReadUint16(file.data()) != 0 || ReadUint16(&file[2]) != kIconType) {
    error = "is not an icon file (no icon directory at its start)";
    return false;
  }
  const std::size_t count = ReadUint16(&file[4]);
  if (count == 0) {
    error = "holds no image";
    return false;
  }
  if (count > kMostIconImages) {
    error = "holds " + std::to_string(count) + " images; an icon holds at most " + std::to_string(kMostIconImages);
    return false;
  }
  const std::size_t directory_end = kDirectorySize + kFileEntrySize * count;
  if (directory_end > file.size()) {
    error = "is cut short: its directory names " + std::to_string(count) + " images";
    return false;
  }
  std::vector<std::pair<std::size_t, std::size_t>> extents;
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t* entry = &file[kDirectorySize + kFileEntrySize * index];
    const std::size_t size = ReadUint32(entry + 8);
    const std::size_t offset = ReadUint32(entry + 12);
    const std::string which = "image " + std::to_string(index + 1);
    if (size == 0) {
      error = which + " is empty";
      return false;
    }
    if (offset < directory_end || offset > file.size() || size > file.size() - offset) {
      error = which + " lies outside the file (" + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
              " of a " + std::to_string(file.size()) + "-byte file)";
      return false;
    }
    IconImage image;
    image.width = Pixels(entry[0]);
    image.height = Pixels(entry[1]);
    image.color_count = entry[2];
    image.planes = ReadUint16(entry + 4);
    image.bit_count = ReadUint16(entry + 6);
    image.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                       file.begin() + static_cast<std::ptrdiff_t>(offset + size));
    image.png =
        size >= sizeof kPngSignature && std::memcmp(image.bytes.data(), kPngSignature, sizeof kPngSignature) == 0;
    if (!image.png) {
      if (size < kBitmapInfoHeaderSize || ReadUint32(image.bytes.data()) != kBitmapInfoHeaderSize) {
        error = which + " is neither a PNG image nor a bitmap";
        return false;
      }
      // The resource compiler fills what the directory may leave out from the bitmap's own header.
      if (image.planes == 0) image.planes = ReadUint16(image.bytes.data() + 12);
      if (image.bit_count == 0) image.bit_count = ReadUint16(image.bytes.data() + 14);
    }
    extents.emplace_back(offset, offset + size);
    images.push_back(std::move(image));
  }
  std::sort(extents.begin(), extents.end());
  for (std::size_t index = 1; index < extents.size(); ++index) {
    if (extents[index].first < extents[index - 1].second) {
      error = "has images that overlap (at offset " + std::to_string(extents[index].first) + ")";
      return false;
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
    error = "the icon group has no icon directory";
    return false;
  }
  const std::size_t count = ReadUint16(&bytes[4]);
  if (kDirectorySize + kGroupEntrySize * count > bytes.size()) {
    error = "the icon group is cut short";
    return false;
  }
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t* entry = &bytes[kDirectorySize + kGroupEntrySize * index];
    entries.push_back({Pixels(entry[0]), Pixels(entry[1]), ReadUint16(entry + 6), ReadUint16(entry + 12)});
  }
  return true;
}
