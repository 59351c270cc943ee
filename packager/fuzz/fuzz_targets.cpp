#include "fuzz_targets.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "cabinet/cabinet_reader.h"
#include "encoding/escaped_text.h"
#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"
#include "host/byte_source.h"
#include "image/icon_file.h"
#include "image/pe_format.h"
#include "image/pe_image.h"
#include "image/version_block.h"
#include "inspect/installer_report.h"
#include "inspect/installer_sbom.h"
#include "pack/pack.h"
#include "signature/authenticode_signature.h"
#include "tests/smallest_program.h"

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
    const std::vector<std::uint8_t> setup = SmallestProgramImage();
    std::ofstream(path_ / "setup.exe", std::ios::binary)
        .write(reinterpret_cast<const char*>(setup.data()), static_cast<std::streamsize>(setup.size()));
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

unsigned HexValue(std::string_view text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) std::abort();
  unsigned value = 0;
  for (std::size_t index = at; index < at + digits; ++index) {
    const char digit = text[index];
    if (!((digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F'))) std::abort();
    value = value * 16 + static_cast<unsigned>(digit >= 'A' ? digit - 'A' + 10 : digit - '0');
  }
  return value;
}

bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit < 0xE000; }

// Decodes what EscapedText wrote, checking that nothing invisible was left raw, into UTF-16 units
// (`units`) or bytes (`bytes`), whichever the input was.
void Unescape(std::string_view text, EscapeContext context, bool from_bytes, std::u16string& units,
              std::string& bytes) {
  const bool json = context == EscapeContext::json;
  std::u16string escaped_units;  // a run of \u escapes, combined once it ends
  const auto end_run = [&] {
    for (std::size_t index = 0; index < escaped_units.size(); ++index) {
      const char32_t unit = escaped_units[index];
      const bool pair = unit >= 0xD800 && unit < 0xDC00 && index + 1 < escaped_units.size() &&
                        escaped_units[index + 1] >= 0xDC00 && escaped_units[index + 1] < 0xE000;
      if (!from_bytes) {
        units += static_cast<char16_t>(unit);
      } else if (pair) {
        AppendUtf8(bytes, 0x10000 + ((unit - 0xD800) << 10) + (escaped_units[index + 1] - 0xDC00));
        ++index;
      } else if (json && unit >= 0xDC80 && unit < 0xDD00) {
        bytes += static_cast<char>(unit - 0xDC00);  // a byte that is not UTF-8
      } else if (IsSurrogate(unit)) {
        std::abort();  // UTF-8 holds no surrogates
      } else {
        AppendUtf8(bytes, unit);
      }
    }
    escaped_units.clear();
  };
  std::size_t index = 0;
  while (index < text.size()) {
    if (text[index] == '\\') {
      if (index + 1 >= text.size()) std::abort();
      const char kind = text[index + 1];
      if (kind == 'u') {
        escaped_units += static_cast<char16_t>(HexValue(text, index + 2, 4));
        index += 6;
        continue;
      }
      end_run();
      if (kind == 'x' && !json && from_bytes) {
        bytes += static_cast<char>(HexValue(text, index + 2, 2));
        index += 4;
      } else if (json && (kind == '"' || kind == '\\')) {
        if (from_bytes) {
          bytes += kind;
        } else {
          units += static_cast<char16_t>(kind);
        }
        index += 2;
      } else {
        std::abort();
      }
      continue;
    }
    end_run();
    std::size_t length = 0;
    const std::optional<char32_t> code_point = DecodeUtf8(text.substr(index), length);
    if (!code_point || !IsVisibleCodePoint(*code_point) || *code_point == U'"') std::abort();
    if (context == EscapeContext::word && (*code_point == U' ' || *code_point == U'=')) std::abort();
    if (from_bytes) {
      bytes.append(text.substr(index, length));
    } else {
      units += Utf16FromUtf8(text.substr(index, length));
    }
    index += length;
  }
  end_run();
}

}  // namespace

void EscapeBytes(std::span<const std::uint8_t> bytes) {
  const std::string text(bytes.begin(), bytes.end());
  std::u16string utf16;
  for (std::size_t index = 0; index + 1 < bytes.size(); index += 2) {
    utf16 += static_cast<char16_t>(bytes[index] | bytes[index + 1] << 8);
  }
  for (const EscapeContext context : {EscapeContext::word, EscapeContext::quoted, EscapeContext::json}) {
    std::u16string no_units;
    std::string decoded_bytes;
    Unescape(EscapedText(text, context), context, true, no_units, decoded_bytes);
    if (decoded_bytes != text || !no_units.empty()) std::abort();
    std::u16string decoded_units;
    std::string no_bytes;
    Unescape(EscapedText(utf16, context), context, false, decoded_units, no_bytes);
    if (decoded_units != utf16 || !no_bytes.empty()) std::abort();
  }
}

int InspectBytes(std::span<const std::uint8_t> bytes) {
  MemoryByteSource source(bytes);
  std::ostringstream out;
  std::ostringstream errors;
  const int exit_code = ReportInstaller(source, "fuzzed.exe", "", out, errors);
  // What --sbom renders of the same facts, for an installer that would succeed.
  InstallerFacts facts;
  InspectionFailure failure;
  if (exit_code == kInspectionWouldSucceed && GatherInstallerFacts(source, "fuzzed.exe", "", facts, failure) &&
      !SbomRefusal(facts)) {
    out << SbomDocument(facts, {"fuzzed.exe", bytes.size(), std::string(64, '0'), std::nullopt});
  }
  return exit_code;
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

int ExpandCabinetBytes(std::span<const std::uint8_t> bytes) {
  constexpr std::uint64_t kLargestFuzzedExpansion = 16 << 20;
  MemoryByteSource source(bytes);
  std::uint64_t handed_on = 0;
  const CabinetExpansion expansion = ExpandFirstCabinetFile(source, 0, bytes.size(), kLargestFuzzedExpansion,
                                                            [&](std::span<const std::uint8_t> piece) {
                                                              handed_on += piece.size();
                                                              return true;
                                                            });
  if (expansion.result == CabinetExpansion::Result::kExpanded && handed_on != expansion.file_size) std::abort();
  return static_cast<int>(expansion.result);
}
