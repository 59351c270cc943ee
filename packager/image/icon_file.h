// A vendor's .ico file, checked and turned into what an image carries: one RT_ICON resource per
// image and an RT_GROUP_ICON directory that names them by id. The file comes from outside the tool,
// so every entry is checked against the file, and every image is checked as Windows' icon API
// decodes it, before anything is built from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct IconImage {
  std::uint16_t width = 0;  // in pixels: 256 where the directory says 0
  std::uint16_t height = 0;
  std::uint8_t color_count = 0;
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  bool png = false;  // a PNG-compressed image, stored as it is; otherwise a DIB
  std::vector<std::uint8_t> bytes;
};

// An icon file holds a handful of sizes; more than this is not an icon anyone made.
inline constexpr std::size_t kMostIconImages = 64;
// A directory entry states each side in one byte, 0 meaning 256: no icon image is larger.
inline constexpr std::uint32_t kLargestIconSide = 256;

// What an image's own bytes say it is: a PNG by its IHDR chunk, a bitmap by its header (whose
// height counts the colour and the mask halves: `height` here is the icon's, half of it).
struct IconImageFormat {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t bit_count = 0;  // bits per pixel
  bool png = false;
};
// False with a reason ("its bitmap ...", "its PNG ...") when Windows could not make an icon of it.
[[nodiscard]] bool ReadIconImageFormat(std::span<const std::uint8_t> bytes, IconImageFormat& format,
                                       std::string& error);

// The images of an .ico file in its order; false with a one-line reason naming what is wrong.
[[nodiscard]] bool ReadIconFile(const std::vector<std::uint8_t>& file, std::vector<IconImage>& images,
                                std::string& error);
// The RT_GROUP_ICON resource for `images`, stored as RT_ICON resources first_id, first_id + 1, ...
std::vector<std::uint8_t> IconGroupBytes(const std::vector<IconImage>& images, std::uint16_t first_id);

struct IconGroupEntry {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t bit_count = 0;
  std::uint16_t id = 0;
};
// Reads an RT_GROUP_ICON resource from an image the tool may not trust.
[[nodiscard]] bool ReadIconGroup(const std::vector<std::uint8_t>& bytes, std::vector<IconGroupEntry>& entries,
                                 std::string& error);
