#include "installer_report.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "byte_source.h"
#include "conventions/build_identity.h"
#include "host_file.h"
#include "icon_file.h"
#include "image_hardening.h"
#include "payload_rules.h"
#include "pe_format.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "sha256.h"
#include "text_encoding.h"
#include "version_block.h"

namespace {

constexpr std::size_t kHashPieceSize = 1 << 20;
// RCDATA 1 is a short version text; a larger one is not read.
constexpr std::uint32_t kLargestPreviousVersion = 1 << 20;

std::string KeyText(const ResourceKey& key) {
  return key.IsName() ? EscapedUtf8FromUtf16(key.name) : "#" + std::to_string(key.id);
}

// Hashes each distinct block of the file once, and all blocks together no more bytes than the file
// holds: resources that overlap cannot make the work grow past one reading of the file.
class PayloadHasher {
 public:
  PayloadHasher(const PeImage& image, ByteSource& source)
      : image_(image), source_(source), budget_(source.Size()), buffer_(kHashPieceSize) {}

  // The digest, or nullopt with the reason in `problem`.
  std::optional<std::string> Digest(const ResourceContent& content, std::string& problem) {
    std::uint64_t offset = 0;
    if (!image_.FileOffsetOf(content.data_rva, content.size, offset)) {
      problem = "its data lies outside the file";
      return std::nullopt;
    }
    const auto known = digests_.find({offset, content.size});
    if (known != digests_.end()) return known->second;
    if (content.size > budget_) {
      problem = "the resources' distinct data blocks add up to more bytes than the file holds (a limit of --inspect)";
      return std::nullopt;
    }
    budget_ -= content.size;
    Sha256 hash;
    for (std::uint64_t done = 0; done < content.size;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), content.size - done));
      if (!source_.Read(offset + done, buffer_.data(), piece)) {
        problem = "its data cannot be read";
        return std::nullopt;
      }
      hash.Update(buffer_.data(), piece);
      done += piece;
    }
    return digests_[{offset, content.size}] = HexDigest(hash.Finish());
  }

 private:
  const PeImage& image_;
  ByteSource& source_;
  std::uint64_t budget_;
  std::vector<std::uint8_t> buffer_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> digests_;
};

// A small resource's bytes, when they lie in the file and are no more than `limit`.
std::optional<std::vector<std::uint8_t>> SmallResource(const PeImage& image, ByteSource& source,
                                                       const ResourceContent& content, std::uint64_t limit) {
  std::uint64_t offset = 0;
  if (content.size > limit || !image.FileOffsetOf(content.data_rva, content.size, offset)) return std::nullopt;
  std::vector<std::uint8_t> bytes(content.size);
  if (!source.Read(offset, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

// The version block's numbers and texts, a line each.
void ReportVersionBlock(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items,
                        std::ostream& out) {
  const ResourceItem* item = FirstOfType(items, kVersionResourceType);
  if (item == nullptr) {
    out << "version: none\n";
    return;
  }
  // wLength is 16-bit: no version block is larger.
  const std::optional<std::vector<std::uint8_t>> bytes = SmallResource(image, source, item->content, 0xFFFF);
  VersionBlock block;
  std::string error = "its data lies outside the file or passes 65,535 bytes";
  if (!bytes || !ReadVersionBlock(*bytes, block, error)) {
    out << "version: unreadable (" << error << ")\n";
    return;
  }
  out << "version: file " << VersionNumbersText(block.file_version) << ", product "
      << VersionNumbersText(block.product_version) << ", language " << FourHexDigits(block.language) << ", code page "
      << block.code_page << "\n";
  for (const auto& [key, value] : block.strings) {
    out << "version text: " << EscapedUtf8FromUtf16(key) << "=\"" << EscapedTextFromUtf16(value) << "\"\n";
  }
}

// The sizes of the first icon group's images.
void ReportIcon(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items, std::ostream& out) {
  const ResourceItem* item = FirstOfType(items, kGroupIconResourceType);
  if (item == nullptr) {
    out << "icon: none\n";
    return;
  }
  // A group names at most 65,535 images of 14 bytes each.
  const std::optional<std::vector<std::uint8_t>> bytes = SmallResource(image, source, item->content, 6 + 14 * 0xFFFF);
  std::vector<IconGroupEntry> entries;
  std::string error = "its data lies outside the file or is too large";
  if (!bytes || !ReadIconGroup(*bytes, entries, error)) {
    out << "icon: unreadable (" << error << ")\n";
    return;
  }
  out << "icon:";
  for (std::size_t index = 0; index < entries.size(); ++index) {
    out << (index == 0 ? " " : ", ") << entries[index].width << "x" << entries[index].height << " "
        << entries[index].bit_count << "-bit";
  }
  out << "\n";
}

std::string PreviousVersion(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items) {
  const auto found = std::find_if(items.begin(), items.end(), [](const ResourceItem& item) {
    return IsPreviousVersionResource(item.type, item.name);
  });
  if (found == items.end()) return "none";
  const std::uint64_t size = found->content.size;
  std::string refused = "none (RCDATA 1 of " + std::to_string(size) + " bytes is not UTF-16 text ending in a zero)";
  std::uint64_t offset = 0;
  if (size > kLargestPreviousVersion || !image.FileOffsetOf(found->content.data_rva, size, offset)) {
    return refused;
  }
  std::vector<std::uint8_t> bytes(size);
  if (!source.Read(offset, bytes.data(), bytes.size())) return refused;
  const std::optional<std::u16string> text = PreviousVersionText(bytes);
  return text ? "\"" + EscapedUtf8FromUtf16(*text) + "\"" : refused;
}

// The installer build the image was made from: its version and source commit, whatever the
// version block now says.
std::string BuildIdentity(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items) {
  const std::string_view name = kBuildIdentityName<char>.Get();
  const auto found = std::find_if(items.begin(), items.end(), [&](const ResourceItem& item) {
    return item.type == ResourceKey::Id(kRcdataResourceType) &&
           item.name == ResourceKey::Name(std::u16string(name.begin(), name.end()));
  });
  if (found == items.end()) return "none";
  const std::optional<std::vector<std::uint8_t>> bytes =
      SmallResource(image, source, found->content, kLargestPreviousVersion);
  const std::optional<std::u16string> text = bytes ? PreviousVersionText(*bytes) : std::nullopt;
  return text ? EscapedTextFromUtf16(*text) : "unreadable";
}

}  // namespace

int ReportInstaller(const std::string& path, std::ostream& out, std::ostream& errors) {
  std::string error;
  const std::optional<InputFile> input = OpenInputFile(PathFromUtf8(path), error);
  if (!input) {
    errors << "drelix-pack: \"" << path << "\" " << error << "\n";
    return kInspectionWouldFail;
  }
  FileByteSource source(input->file.get(), input->size);
  return ReportInstaller(source, path, out, errors);
}

int ReportInstaller(ByteSource& source, const std::string& path, std::ostream& out, std::ostream& errors) {
  std::string error;
  PeImage image;
  std::vector<ResourceItem> items;
  bool limit_passed = false;
  if (!ReadPeImage(source, image, error) || !ReadResourceTree(image, source, items, error, limit_passed)) {
    errors << "drelix-pack: \"" << path << "\": " << error
           << (limit_passed ? " (a limit of --inspect; the installer was not read whole)" : "") << "\n";
    return limit_passed ? kInspectionIncomplete : kInspectionWouldFail;
  }

  // The installer's enumeration sees each name once, with the resource its language search finds;
  // the first language stands for it here.
  std::vector<PayloadResource> payload;
  PayloadHasher hasher(image, source);
  std::string unread;
  out << "installer: " << path << "\n";
  for (std::string_view type : kPayloadTypes<char>) {
    const ResourceItem* previous = nullptr;
    for (const ResourceItem& entry : items) {
      if (entry.type != ResourceKey::Name(std::u16string(type.begin(), type.end()))) continue;
      std::string problem;
      const std::optional<std::string> digest = hasher.Digest(entry.content, problem);
      out << "resource: type=" << type << " name=" << KeyText(entry.name) << " language=" << entry.language
          << " size=" << entry.content.size << " sha256=" << (digest ? *digest : "(not read: " + problem + ")") << "\n";
      if (!digest && unread.empty())
        unread = "resource " + std::string(type) + "/" + KeyText(entry.name) + ": " + problem;
      if (previous == nullptr || !(previous->name == entry.name)) {
        payload.push_back(
            {std::string(type), entry.name.name, entry.name.id, static_cast<std::uint32_t>(entry.content.size)});
      }
      previous = &entry;
    }
  }
  const ExtractionVerdict verdict = JudgeExtraction(payload);
  const auto named = [](const PayloadResource* resource) {
    return resource == nullptr ? std::string("none") : resource->type + "/" + EscapedUtf8FromUtf16(resource->name);
  };
  const std::optional<SetupForm> form = verdict.setup ? SetupFormOfType(verdict.setup->type) : std::nullopt;
  out << "archive: " << named(verdict.archive) << "\n";
  out << "setup: " << named(verdict.setup) << "\n";
  out << "setup form: " << (form ? SetupFormName(*form) : "unknown") << "\n";
  out << "previous version: " << PreviousVersion(image, source, items) << "\n";
  out << "installer build: " << BuildIdentity(image, source, items) << "\n";
  ReportVersionBlock(image, source, items, out);
  ReportIcon(image, source, items, out);
  const DataDirectory& certificates = image.directories[kCertificateDirectory];
  out << "signature: "
      << (certificates.size != 0 ? "Authenticode certificate table of " + std::to_string(certificates.size) + " bytes"
                                 : std::string("none"))
      << "\n";
  out << "hardening: " << DescribeHardening(ReadImageHardening(image, source)) << "\n";
  // A failed search is certain whatever the data holds: it ends the run before any data is read.
  if (verdict.exit_code != 0) {
    out << "extraction: would fail with exit code " << verdict.exit_code << " (Windows error " << verdict.windows_error
        << "): " << verdict.reason << "\n";
    return kInspectionWouldFail;
  }
  if (!unread.empty()) {
    out << "extraction: unknown, the installer was not read whole: " << unread << "\n";
    return kInspectionIncomplete;
  }
  out << "extraction: would succeed\n";
  return kInspectionWouldSucceed;
}
