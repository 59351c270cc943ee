#include "installer_report.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "authenticode_signature.h"
#include "byte_source.h"
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

// The version resource GetFileVersionInfo reads: VS_VERSION_INFO (#1) in the language the loader
// prefers, which on an English system is language-neutral first, then 1033, then the first there is.
const ResourceItem* VersionResourceRead(const std::vector<ResourceItem>& items) {
  const ResourceItem* read = nullptr;
  const auto rank = [](const ResourceItem& item) {
    return item.language == 0 ? 0 : item.language == kEnglishUnitedStatesLanguage ? 1 : 2;
  };
  for (const ResourceItem& item : items) {
    if (item.type != ResourceKey::Id(kVersionResourceType) || item.name != ResourceKey::Id(1)) continue;
    if (read == nullptr || rank(item) < rank(*read)) read = &item;
  }
  return read;
}

// The version block's numbers and the texts of the table the version API reads, a line each.
void ReportVersionBlock(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items,
                        std::ostream& out) {
  const ResourceItem* item = VersionResourceRead(items);
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
  const VersionStringTable* table = block.TableRead();
  out << "version: file " << VersionNumbersText(block.file_version) << ", product "
      << VersionNumbersText(block.product_version);
  if (block.translations.empty()) {
    out << ", no translation";
  } else {
    out << ", language " << FourHexDigits(block.translations[0].language) << ", code page "
        << block.translations[0].code_page;
  }
  out << ", string table " << (table != nullptr ? EscapedUtf8FromUtf16(table->key) : "none") << " of resource language "
      << item->language;
  const std::size_t resources =
      static_cast<std::size_t>(std::count_if(items.begin(), items.end(), [](const ResourceItem& other) {
        return other.type == ResourceKey::Id(kVersionResourceType) && other.name == ResourceKey::Id(1);
      }));
  if (resources > 1) out << " (the one of " << resources << " that the version API reads on an English system)";
  out << "\n";
  if (table == nullptr) return;
  for (const auto& [key, value] : table->strings) {
    out << "version text: " << EscapedUtf8FromUtf16(key) << "=\"" << EscapedTextFromUtf16(value) << "\"\n";
  }
}

// The first icon group's images, each as its own bytes describe it: the group's entry is only what
// the icon API picks a size by, and an image it cannot decode shows nothing.
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
    const IconGroupEntry& entry = entries[index];
    out << (index == 0 ? " " : ", ");
    const auto found = std::find_if(items.begin(), items.end(), [&](const ResourceItem& candidate) {
      return candidate.type == ResourceKey::Id(kIconResourceType) && candidate.name == ResourceKey::Id(entry.id);
    });
    // An icon image is at most 256x256 pixels of 32 bits with its mask, well under 1 MiB.
    const std::optional<std::vector<std::uint8_t>> pixels =
        found == items.end() ? std::nullopt : SmallResource(image, source, found->content, 1 << 20);
    IconImageFormat format;
    std::string reason = found == items.end() ? "missing" : "its data lies outside the file or is too large";
    if (!pixels || !ReadIconImageFormat(*pixels, format, reason)) {
      out << "image #" << entry.id << " unreadable (" << reason << ")";
      continue;
    }
    out << format.width << "x" << format.height << " " << format.bit_count << "-bit";
    if (format.width != entry.width || format.height != entry.height) {
      out << " (its group entry says " << entry.width << "x" << entry.height << ")";
    }
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

// The signature's facts, a line each; only what was read is printed, and a chain is never called
// good unless it was checked against the trust file the user named.
void ReportSignature(const SignatureFacts& signature, const std::string& trust_file, std::ostream& out) {
  if (!signature.present) {
    out << "signature: none\n";
    return;
  }
  const std::string table = "certificate table of " + std::to_string(signature.table_size) + " bytes";
  out << "signature: "
      << (signature.Failed() ? "fails: " + signature.failure + " (" + table + ")" : "Authenticode, " + table) << "\n";
  if (!signature.image_digest.empty()) {
    out << "signature digest: " << signature.digest_algorithm
        << (signature.DigestMatches()
                ? " matches " + signature.image_digest
                : " mismatch: signed " + signature.signed_digest + ", image " + signature.image_digest)
        << "\n";
  }
  if (!signature.signer_subject.empty()) {
    out << "signature signer: " << signature.signer_subject << "\n";
    out << "signature issuer: " << signature.signer_issuer << "\n";
    out << "signature time: "
        << (signature.signing_time.empty()
                ? std::string("none (no timestamp)")
                : signature.signing_time + " (" + signature.signing_time_source + ", its signature not checked)")
        << "\n";
  }
  const std::string trust = "\"" + EscapedTextFromUtf16(Utf16FromUtf8(trust_file)) + "\"";
  switch (signature.chain) {
    case ChainCheck::not_checked:
      out << "signature chain: not checked (no --trust given)\n";
      break;
    case ChainCheck::verifies:
      out << "signature chain: verifies against " << trust << "\n";
      break;
    case ChainCheck::fails:
      out << "signature chain: fails against " << trust << ": " << signature.chain_problem << "\n";
      break;
  }
}

}  // namespace

int ReportInstaller(const std::string& path, const std::string& trust_file, std::ostream& out, std::ostream& errors) {
  std::string error;
  const std::optional<InputFile> input = OpenInputFile(PathFromUtf8(path), error);
  if (!input) {
    errors << "drelix-pack: \"" << path << "\" " << error << "\n";
    return kInspectionWouldFail;
  }
  FileByteSource source(input->file.get(), input->size);
  return ReportInstaller(source, path, trust_file, out, errors);
}

int ReportInstaller(ByteSource& source, const std::string& path, const std::string& trust_file, std::ostream& out,
                    std::ostream& errors) {
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
  for (const PayloadType<char>& record : kPayloadTypes<char>) {
    const std::string_view type = record.name;
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
  const PayloadType<char>* setup_type = verdict.setup ? FindPayloadType(verdict.setup->type) : nullptr;
  out << "archive: " << named(verdict.archive) << "\n";
  out << "setup: " << named(verdict.setup) << "\n";
  out << "setup form: " << (setup_type != nullptr ? SetupFormName(setup_type->setup_form) : "unknown") << "\n";
  out << "previous version: " << PreviousVersion(image, source, items) << "\n";
  ReportVersionBlock(image, source, items, out);
  ReportIcon(image, source, items, out);
  const SignatureFacts signature = ReadAuthenticodeSignature(image, source, trust_file);
  ReportSignature(signature, trust_file, out);
  out << "hardening: " << DescribeHardening(ReadImageHardening(image, source)) << "\n";
  // A failed search is certain whatever the data holds: it ends the run before any data is read.
  if (verdict.exit_code != 0) {
    out << "extraction: would fail with exit code " << verdict.exit_code << " (Windows error " << verdict.windows_error
        << "): " << verdict.reason << "\n";
    return signature.Failed() ? kInspectionSignatureFailed : kInspectionWouldFail;
  }
  if (!unread.empty()) {
    out << "extraction: unknown, the installer was not read whole: " << unread << "\n";
    return signature.Failed() ? kInspectionSignatureFailed : kInspectionIncomplete;
  }
  out << "extraction: would succeed\n";
  return signature.Failed() ? kInspectionSignatureFailed : kInspectionWouldSucceed;
}
