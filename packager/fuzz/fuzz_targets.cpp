#include "fuzz_targets.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "authenticode_signature.h"
#include "byte_source.h"
#include "icon_file.h"
#include "installer_report.h"
#include "little_endian.h"
#include "pack.h"
#include "pe_format.h"
#include "pe_image.h"
#include "version_block.h"

namespace {

// A folder with the inputs, made once per process and removed at its end.
class PackingFolder {
 public:
  PackingFolder() {
    std::error_code ignored;
    path_ = std::filesystem::temp_directory_path() / ("drelix-pack-fuzz-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
    std::ofstream(path_ / "archive.7z") << "archive";
    std::ofstream(path_ / "setup.exe") << "setup";
  }
  ~PackingFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  PackingFolder(const PackingFolder&) = delete;
  PackingFolder& operator=(const PackingFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

int InspectBytes(std::span<const std::uint8_t> bytes) {
  MemoryByteSource source(bytes);
  std::ostringstream out;
  std::ostringstream errors;
  return ReportInstaller(source, "fuzzed.exe", "", out, errors);
}

int PackWithStub(std::span<const std::uint8_t> bytes) {
  static const PackingFolder folder;
  PackOptions options;
  options.archive = (folder.Path() / "archive.7z").string();
  options.setup = (folder.Path() / "setup.exe").string();
  options.setup_form = "plain";
  options.output = (folder.Path() / "installer.exe").string();
  std::ostringstream errors;
  return Pack(options, bytes, errors);
}

int ReadVersionBlockBytes(std::span<const std::uint8_t> bytes) {
  VersionBlock block;
  std::string error;
  if (!ReadVersionBlock(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), block, error)) return 0;
  std::vector<std::uint8_t> written;
  if (!VersionBlockBytes(block, written, error)) return 1;
  VersionBlock again;
  if (!ReadVersionBlock(written, again, error) || !(again == block)) std::abort();
  return 1;
}

int ReadIconFileBytes(std::span<const std::uint8_t> bytes) {
  std::vector<IconImage> images;
  std::string error;
  if (!ReadIconFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), images, error)) return 0;
  std::vector<IconGroupEntry> entries;
  if (!ReadIconGroup(IconGroupBytes(images, 1), entries, error) || entries.size() != images.size()) std::abort();
  for (std::size_t index = 0; index < images.size(); ++index) {
    IconImageFormat format;
    if (!ReadIconImageFormat(images[index].bytes, format, error) || format.width != entries[index].width ||
        format.height != entries[index].height || format.bit_count != entries[index].bit_count) {
      std::abort();
    }
  }
  return 1;
}

int CheckSignatureTable(std::span<const std::uint8_t> bytes) {
  // Headers alone, no section: the certificate table follows them, as a signing tool appends it.
  constexpr std::uint32_t kHeadersSize = 0x200;
  constexpr std::uint32_t kOptionalHeader = 0x58;
  std::vector<std::uint8_t> image(kHeadersSize);
  image[0] = 'M';
  image[1] = 'Z';
  WriteUint32(&image[kDosPeSignatureOffset], 0x40);
  std::copy_n("PE\0\0", 4, &image[0x40]);
  WriteUint16(&image[0x44 + kCoffMachineOffset], kMachineAmd64);
  WriteUint16(&image[0x44 + kCoffOptionalHeaderSizeOffset], 240);
  WriteUint16(&image[kOptionalHeader + kOptionalMagicOffset], kPe32PlusMagic);
  WriteUint32(&image[kOptionalHeader + kOptionalSectionAlignmentOffset], 0x1000);
  WriteUint32(&image[kOptionalHeader + kOptionalFileAlignmentOffset], 0x200);
  WriteUint32(&image[kOptionalHeader + kOptionalSizeOfHeadersOffset], kHeadersSize);
  WriteUint32(&image[kOptionalHeader + kOptionalDirectoryCountOffset], kMostDataDirectories);
  const std::uint32_t entry =
      kOptionalHeader + kOptionalDataDirectoryOffset + kDataDirectorySize * kCertificateDirectory;
  WriteUint32(&image[entry], kHeadersSize);
  WriteUint32(&image[entry + kDataDirectorySizeOffset], static_cast<std::uint32_t>(bytes.size()));
  image.insert(image.end(), bytes.begin(), bytes.end());
  MemoryByteSource source(image);
  PeImage read;
  std::string error;
  if (!ReadPeImage(source, read, error)) std::abort();
  return ReadAuthenticodeSignature(read, source, "").Failed() ? 1 : 0;
}
