#include "installer_report.h"

#include <algorithm>
#include <vector>

#include "byte_source.h"
#include "host_file.h"
#include "image_hardening.h"
#include "payload_rules.h"
#include "pe_image.h"
#include "sha256.h"
#include "text_encoding.h"

namespace {

constexpr std::size_t kHashPieceSize = 1 << 20;

std::string KeyText(const ResourceKey& key) {
  return key.IsName() ? Utf8FromUtf16(key.name) : "#" + std::to_string(key.id);
}

bool HashResource(const PeImage& image, ByteSource& source, const ResourceEntry& entry,
                  std::vector<std::uint8_t>& buffer, std::string& digest) {
  std::uint64_t offset = 0;
  if (!image.FileOffsetOf(entry.data_rva, entry.size, offset)) return false;
  Sha256 hash;
  for (std::uint64_t done = 0; done < entry.size;) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), entry.size - done));
    if (!source.Read(offset + done, buffer.data(), piece)) return false;
    hash.Update(buffer.data(), piece);
    done += piece;
  }
  digest = HexDigest(hash.Finish());
  return true;
}

// The installer takes RCDATA 1 only as whole UTF-16 units ending in a zero unit.
std::string PreviousVersion(const PeImage& image, ByteSource& source, const std::vector<ResourceEntry>& entries) {
  const auto found = std::find_if(entries.begin(), entries.end(), [](const ResourceEntry& entry) {
    return entry.type == ResourceKey::Id(kRcdataResourceType) && entry.name == ResourceKey::Id(1);
  });
  if (found == entries.end()) return "none";
  std::uint64_t offset = 0;
  std::vector<std::uint8_t> bytes(found->size);
  if (found->size == 0 || found->size % 2 != 0 || found->size > (1u << 20) ||
      !image.FileOffsetOf(found->data_rva, found->size, offset) || !source.Read(offset, bytes.data(), bytes.size()) ||
      bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0) {
    return "none (RCDATA 1 of " + std::to_string(found->size) + " bytes is not UTF-16 text ending in a zero)";
  }
  std::u16string text;
  for (std::size_t index = 0; index + 2 < bytes.size(); index += 2)
    text += static_cast<char16_t>(bytes[index] | bytes[index + 1] << 8);
  return "\"" + Utf8FromUtf16(text) + "\"";
}

}  // namespace

int ReportInstaller(const std::string& path, std::ostream& out, std::ostream& errors) {
  UniqueFile file = OpenFile(PathFromUtf8(path), "rb");
  const std::optional<std::uint64_t> size = file ? SizeOfOpenFile(file.get()) : std::nullopt;
  if (!size) {
    errors << "drelix-pack: \"" << path << "\" does not exist or cannot be read\n";
    return 1;
  }
  FileByteSource source(file.get(), *size);
  PeImage image;
  std::vector<ResourceEntry> entries;
  std::string error;
  if (!ReadPeImage(source, image, error) || !ReadResourceEntries(image, source, entries, error)) {
    errors << "drelix-pack: \"" << path << "\": " << error << "\n";
    return 1;
  }

  // The installer's enumeration sees each name once, with the resource its language search finds;
  // the first language stands for it here.
  std::vector<PayloadResource> payload;
  std::vector<std::uint8_t> buffer(kHashPieceSize);
  out << "installer: " << path << "\n";
  for (std::string_view type : kPayloadTypes) {
    const ResourceEntry* previous = nullptr;
    for (const ResourceEntry& entry : entries) {
      if (entry.type != ResourceKey::Name(std::u16string(type.begin(), type.end()))) continue;
      std::string digest;
      out << "resource: type=" << type << " name=" << KeyText(entry.name) << " language=" << entry.language
          << " size=" << entry.size << " sha256="
          << (HashResource(image, source, entry, buffer, digest) ? digest : "(unreadable: outside the file)") << "\n";
      if (previous == nullptr || !(previous->name == entry.name)) {
        payload.push_back({std::string(type), entry.name.name, entry.name.id, entry.size});
      }
      previous = &entry;
    }
  }
  const ExtractionVerdict verdict = JudgeExtraction(payload);
  const auto named = [](const PayloadResource* resource) {
    return resource == nullptr ? std::string("none") : resource->type + "/" + Utf8FromUtf16(resource->name);
  };
  const std::optional<SetupForm> form = verdict.setup ? SetupFormOfType(verdict.setup->type) : std::nullopt;
  out << "archive: " << named(verdict.archive) << "\n";
  out << "setup: " << named(verdict.setup) << "\n";
  out << "setup form: " << (form ? SetupFormName(*form) : "unknown") << "\n";
  out << "previous version: " << PreviousVersion(image, source, entries) << "\n";
  const DataDirectory& certificates = image.directories[kCertificateDirectory];
  out << "signature: "
      << (certificates.size != 0 ? "Authenticode certificate table of " + std::to_string(certificates.size) + " bytes"
                                 : std::string("none"))
      << "\n";
  out << "hardening: " << DescribeHardening(ReadImageHardening(image, source)) << "\n";
  if (verdict.exit_code == 0) {
    out << "extraction: would succeed\n";
    return 0;
  }
  out << "extraction: would fail with exit code " << verdict.exit_code << " (Windows error " << verdict.windows_error
      << "): " << verdict.reason << "\n";
  return 1;
}
