#include "inspect/installer_facts.h"

#include <algorithm>
#include <map>
#include <utility>

#include "conventions/build_identity.h"
#include "encoding/escaped_text.h"
#include "host/host_file.h"
#include "image/pe_format.h"
#include "image/pe_image.h"
#include "image/resource_tree.h"
#include "signature/sha256.h"

namespace {

// RCDATA 1 is a short version text; a larger one is not read.
constexpr std::uint32_t kLargestPreviousVersion = 1 << 20;

std::string KeyText(const ResourceKey& key) {
  return key.IsName() ? EscapedText(key.name, EscapeContext::word) : "#" + std::to_string(key.id);
}

// Hashes each distinct block of the file once, and all blocks together no more bytes than the file
// holds: resources that overlap cannot make the work grow past one reading of the file.
class PayloadHasher {
 public:
  PayloadHasher(const PeImage& image, ByteSource& source) : image_(image), source_(source), budget_(source.Size()) {}

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
    if (!hash.UpdateFrom(source_, offset, content.size)) {
      problem = "its data cannot be read";
      return std::nullopt;
    }
    return digests_[{offset, content.size}] = HexDigest(hash.Finish());
  }

 private:
  const PeImage& image_;
  ByteSource& source_;
  std::uint64_t budget_;
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

bool IsVersionResource(const ResourceItem& item) {
  return item.type == ResourceKey::Id(kVersionResourceType) && item.name == ResourceKey::Id(1);
}

// The version resource GetFileVersionInfo reads: VS_VERSION_INFO (#1) in the language the loader
// prefers, which on an English system is language-neutral first, then 1033, then the first there is.
const ResourceItem* VersionResourceRead(const std::vector<ResourceItem>& items) {
  const ResourceItem* read = nullptr;
  const auto rank = [](const ResourceItem& item) {
    return item.language == 0 ? 0 : item.language == kEnglishUnitedStatesLanguage ? 1 : 2;
  };
  for (const ResourceItem& item : items) {
    if (IsVersionResource(item) && (read == nullptr || rank(item) < rank(*read))) read = &item;
  }
  return read;
}

VersionFacts GatherVersion(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items) {
  VersionFacts facts;
  const ResourceItem* item = VersionResourceRead(items);
  if (item == nullptr) return facts;
  facts.resource_language = item->language;
  facts.resource_count = static_cast<std::size_t>(std::count_if(items.begin(), items.end(), IsVersionResource));
  // wLength is 16-bit: no version block is larger.
  const std::optional<std::vector<std::uint8_t>> bytes = SmallResource(image, source, item->content, 0xFFFF);
  facts.reason = "its data lies outside the file or passes 65,535 bytes";
  facts.state =
      bytes && ReadVersionBlock(*bytes, facts.block, facts.reason) ? FactState::present : FactState::unreadable;
  if (facts.state == FactState::present) {
    facts.reason.clear();
  } else {
    facts.block = VersionBlock{};
  }
  return facts;
}

IconFacts GatherIcon(const PeImage& image_file, ByteSource& source, const std::vector<ResourceItem>& items) {
  IconFacts facts;
  const ResourceItem* item = FirstOfType(items, kGroupIconResourceType);
  if (item == nullptr) return facts;
  // A group names at most 65,535 images of 14 bytes each.
  const std::optional<std::vector<std::uint8_t>> bytes =
      SmallResource(image_file, source, item->content, 6 + 14 * 0xFFFF);
  facts.reason = "its data lies outside the file or is too large";
  std::vector<IconGroupEntry> entries;
  if (!bytes || !ReadIconGroup(*bytes, entries, facts.reason)) {
    facts.state = FactState::unreadable;
    return facts;
  }
  facts.state = FactState::present;
  facts.reason.clear();
  for (const IconGroupEntry& entry : entries) {
    IconImageFacts image{entry, std::nullopt, {}};
    const auto found = std::find_if(items.begin(), items.end(), [&](const ResourceItem& candidate) {
      return candidate.type == ResourceKey::Id(kIconResourceType) && candidate.name == ResourceKey::Id(entry.id);
    });
    // An icon image is at most 256x256 pixels of 32 bits with its mask, well under 1 MiB.
    const std::optional<std::vector<std::uint8_t>> pixels =
        found == items.end() ? std::nullopt : SmallResource(image_file, source, found->content, 1 << 20);
    image.reason = found == items.end() ? "missing" : "its data lies outside the file or is too large";
    IconImageFormat format;
    if (pixels && ReadIconImageFormat(*pixels, format, image.reason)) {
      image.format = format;
      image.reason.clear();
    }
    facts.images.push_back(std::move(image));
  }
  return facts;
}

PreviousVersionFacts GatherPreviousVersion(const PeImage& image, ByteSource& source,
                                           const std::vector<ResourceItem>& items) {
  PreviousVersionFacts facts;
  const auto found = std::find_if(items.begin(), items.end(), [](const ResourceItem& item) {
    return IsPreviousVersionResource(item.type, item.name);
  });
  if (found == items.end()) return facts;
  const std::optional<std::vector<std::uint8_t>> bytes =
      SmallResource(image, source, found->content, kLargestPreviousVersion);
  const std::optional<std::u16string> text = bytes ? PreviousVersionText(*bytes) : std::nullopt;
  if (!text) {
    facts.state = FactState::unreadable;
    facts.reason = "RCDATA 1 of " + std::to_string(found->content.size) + " bytes is not UTF-16 text ending in a zero";
    return facts;
  }
  facts.state = FactState::present;
  facts.text = *text;
  return facts;
}

BuildFacts GatherBuild(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items) {
  BuildFacts facts;
  const std::string_view name = kBuildIdentityName<char>.Get();
  const auto found = std::find_if(items.begin(), items.end(), [&](const ResourceItem& item) {
    return item.type == ResourceKey::Id(kRcdataResourceType) &&
           item.name == ResourceKey::Name(std::u16string(name.begin(), name.end()));
  });
  if (found == items.end()) return facts;
  // The same form as the previous version: UTF-16 text ending in a zero unit.
  const std::optional<std::vector<std::uint8_t>> bytes =
      SmallResource(image, source, found->content, kLargestPreviousVersion);
  const std::optional<std::u16string> text = bytes ? PreviousVersionText(*bytes) : std::nullopt;
  facts.state = text ? FactState::present : FactState::unreadable;
  if (text) facts.text = *text;
  return facts;
}

std::optional<PayloadChoice> Choice(const PayloadResource* resource) {
  if (resource == nullptr) return std::nullopt;
  return PayloadChoice{resource->type, resource->name};
}

// Every resource of a payload type, hashed; the first that could not be read, told as a reason
// (empty when all were read).
std::string HashPayloadResources(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items,
                                 InstallerFacts& facts) {
  PayloadHasher hasher(image, source);
  std::string unread;
  for (const PayloadType<char>& record : kPayloadTypes<char>) {
    const std::string_view type = record.name;
    for (const ResourceItem& entry : items) {
      if (entry.type != ResourceKey::Name(std::u16string(type.begin(), type.end()))) continue;
      PayloadResourceFacts resource{std::string(type), entry.name, entry.language, entry.content.size, {}, {}};
      resource.sha256 = hasher.Digest(entry.content, resource.not_read_reason);
      if (!resource.sha256 && unread.empty()) {
        unread = "resource " + std::string(type) + "/" + KeyText(entry.name) + ": " + resource.not_read_reason;
      }
      facts.resources.push_back(std::move(resource));
    }
  }
  return unread;
}

// --inspect's verdict, from the surest to the least: an image Windows does not start, a failed
// search, a resource not read, a run the replay cannot judge, then the run's own outcome.
void SettleVerdict(std::uint64_t installer_size, const ExtractionVerdict& verdict, const std::string& unread,
                   InstallerFacts& facts) {
  const RunVerdict& run = facts.payload.verdict;
  if (const std::optional<std::string> refusal = ImageTooLargeToStart(installer_size, "the installer is")) {
    facts.extraction = {ExtractionOutcome::would_fail, false, 0, 0, *refusal};
    facts.exit_code = kInspectionWouldFail;
  } else if (verdict.exit_code != 0) {
    // A failed search is certain whatever the data holds: it ends the run before any data is read.
    facts.extraction = {ExtractionOutcome::would_fail, true, verdict.exit_code, verdict.windows_error, verdict.reason};
    facts.exit_code = kInspectionWouldFail;
  } else if (!unread.empty()) {
    facts.extraction = {ExtractionOutcome::unknown, true, 0, 0, "the installer was not read whole: " + unread};
    facts.exit_code = kInspectionIncomplete;
  } else if (run.outcome == RunVerdict::Outcome::kUnknown) {
    facts.extraction = {ExtractionOutcome::unknown, true, 0, 0, run.reason};
    facts.exit_code = kInspectionIncomplete;
  } else if (run.outcome == RunVerdict::Outcome::kWouldFail) {
    const ExtractionFacts failure{ExtractionOutcome::would_fail, true, run.exit_code, run.windows_error, run.reason};
    facts.extraction = run.setup_run ? ExtractionFacts{ExtractionOutcome::would_succeed, true, 0, 0, {}} : failure;
    if (run.setup_run) facts.setup_run = failure;
    facts.exit_code = kInspectionWouldFail;
  } else {
    facts.extraction = {ExtractionOutcome::would_succeed, true, 0, 0, {}};
    facts.exit_code = kInspectionWouldSucceed;
  }
}

}  // namespace

bool GatherInstallerFacts(const std::string& path, const std::string& trust_file, InstallerFacts& facts,
                          InspectionFailure& failure) {
  std::string error;
  const std::optional<InputFile> input = OpenInputFile(PathFromUtf8(path), error);
  if (!input) {
    failure = {kInspectionWouldFail, Quoted(path) + " " + error};
    return false;
  }
  FileByteSource source(input->file.get(), input->size);
  return GatherInstallerFacts(source, path, trust_file, facts, failure);
}

bool GatherInstallerFacts(ByteSource& source, const std::string& path, const std::string& trust_file,
                          InstallerFacts& facts, InspectionFailure& failure) {
  std::string error;
  PeImage image;
  std::vector<ResourceItem> items;
  bool limit_passed = false;
  if (!ReadPeImage(source, image, error) || !ReadResourceTree(image, source, items, error, limit_passed)) {
    failure = {limit_passed ? kInspectionIncomplete : kInspectionWouldFail,
               Quoted(path) + ": " + error +
                   (limit_passed ? " (a limit of --inspect; the installer was not read whole)" : "")};
    return false;
  }

  facts = InstallerFacts{};
  facts.path = path;
  const std::string unread = HashPayloadResources(image, source, items, facts);
  // The installer's enumeration sees each name once, with the resource its language search finds;
  // the first language stands for it here.
  const std::vector<PayloadResource> payload = PayloadSearchOrder(items);
  const ExtractionVerdict verdict = JudgeExtraction(payload);
  facts.archive = Choice(verdict.archive);
  facts.setup = Choice(verdict.setup);
  const PayloadType<char>* setup_type = verdict.setup ? FindPayloadType(verdict.setup->type) : nullptr;
  if (setup_type != nullptr) facts.setup_form = setup_type->setup_form;
  facts.previous_version = GatherPreviousVersion(image, source, items);
  facts.build = GatherBuild(image, source, items);
  facts.version = GatherVersion(image, source, items);
  facts.icon = GatherIcon(image, source, items);
  facts.signature = ReadAuthenticodeSignature(image, source, trust_file);
  facts.trust_file = trust_file;
  facts.hardening = ReadImageHardening(image, source);
  facts.payload = ReadPayloadFacts(image, source, items, verdict, kLargestCabinetExpansion);
  SettleVerdict(source.Size(), verdict, unread, facts);
  if (facts.signature.Failed()) facts.exit_code = kInspectionSignatureFailed;
  return true;
}
