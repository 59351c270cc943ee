#include "extraction/payload_extraction.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#include "conventions/exit_outcome.h"
#include "encoding/escaped_text.h"
#include "encoding/text_encoding.h"
#include "host/host_file.h"
#include "image/image_writer.h"
#include "signature/sha256.h"

namespace {

using Outcome = RunVerdict::Outcome;

// The Windows errors of a file that cannot be created under its name and of a program that cannot
// be started.
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorBadExeFormat = 193;
constexpr std::size_t kCopyPieceSize = 1 << 20;

RunVerdict Fails(std::uint32_t exit_code, std::uint32_t windows_error, std::string reason) {
  return {Outcome::kWouldFail, false, exit_code, windows_error, std::move(reason)};
}
RunVerdict Unknown(std::string reason) { return {Outcome::kUnknown, false, 0, 0, std::move(reason)}; }

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xE000; }

// Windows drops trailing dots and spaces from the last part of a path: the file the installer
// creates has the name without them.
std::u16string NameAsWritten(std::u16string name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
  return name;
}

// Why the installer cannot write a file under `name` in its scratch directory, as a verdict, or
// nullopt when it can. Separators, colons and names that do not fit were refused by the search
// already; device names cannot occur, since every payload name begins with "drelix" or "setup".
std::optional<RunVerdict> CheckWrittenName(const std::u16string& name, std::uint32_t exit_code) {
  bool paired = true;
  for (std::size_t index = 0; index < name.size(); ++index) {
    const char16_t unit = name[index];
    if (unit >= 0xD800 && unit < 0xDC00 && index + 1 < name.size() && name[index + 1] >= 0xDC00 &&
        name[index + 1] < 0xE000) {
      ++index;
    } else if (IsSurrogate(unit) || unit == 0) {
      paired = false;
    }
  }
  const std::string shown = Quoted(name);
  if (!paired)
    return Unknown("the name " + shown + " holds U+0000 or an unpaired surrogate, which drelix-pack does not replay");
  if (std::any_of(name.begin(), name.end(), [](char16_t unit) {
        return unit < 0x20 || std::u16string_view(u"<>\"|?*").find(unit) != std::u16string_view::npos;
      })) {
    return Fails(exit_code, kErrorInvalidName,
                 "the name " + shown + " holds a character Windows refuses in file names (< > \" | ? * or a control)");
  }
  return std::nullopt;
}

// The file of a resource that the search found.
std::optional<PayloadFile> Locate(const PeImage& image, const std::vector<ResourceItem>& items,
                                  const PayloadResource& resource) {
  const ResourceKey type = ResourceKey::Name(std::u16string(resource.type.begin(), resource.type.end()));
  const ResourceKey name = ResourceKey::Name(resource.name);
  const auto found = std::find_if(items.begin(), items.end(),
                                  [&](const ResourceItem& item) { return item.type == type && item.name == name; });
  PayloadFile file{NameAsWritten(resource.name), 0, 0};
  if (found == items.end() || !image.FileOffsetOf(found->content.data_rva, found->content.size, file.offset)) {
    return std::nullopt;
  }
  file.size = found->content.size;
  return file;
}

std::vector<std::uint8_t> Prefix(ByteSource& source, const PayloadFile& file, std::size_t most) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(file.size, most)));
  if (!source.Read(file.offset, bytes.data(), bytes.size())) bytes.clear();
  return bytes;
}

// Expands the cabinet, hashing what comes out and keeping its first bytes for the program check.
void ExpandSetupCabinet(ByteSource& source, std::uint64_t largest_expansion, PayloadFacts& facts) {
  Sha256 hash;
  std::vector<std::uint8_t> prefix;
  std::uint64_t size = 0;
  facts.expansion = ExpandFirstCabinetFile(
      source, facts.setup.offset, facts.setup.size, largest_expansion, [&](std::span<const std::uint8_t> bytes) {
        hash.Update(bytes.data(), bytes.size());
        const std::size_t kept = std::min(bytes.size(), kProgramHeaderWindow - prefix.size());
        prefix.insert(prefix.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        size += bytes.size();
        return true;
      });
  const std::string digest = HexDigest(hash.Finish());
  if (facts.expansion->result != CabinetExpansion::Result::kExpanded) return;
  facts.setup_program_size = size;
  facts.setup_program_sha256 = digest;
  facts.setup_program = CheckSetupProgram(prefix, size);
}

RunVerdict Judge(const PayloadFacts& facts) {
  if (std::optional<RunVerdict> refused = CheckWrittenName(facts.archive.name, EXIT_ARCHIVE_EXTRACTION_FAILED)) {
    return *refused;
  }
  if (facts.form != SetupForm::kPlain) {
    if (std::optional<RunVerdict> refused = CheckWrittenName(facts.setup.name, EXIT_SETUP_WRITE_FAILED))
      return *refused;
  }
  if (facts.form == SetupForm::kCabinet) {
    if (UpperCase(Utf8FromUtf16(facts.setup.name)) == UpperCase(kSetupProgramName<char>.Get())) {
      return Fails(EXIT_SETUP_EXTRACTION_FAILED, 0,
                   "the cabinet is written as " + Quoted(facts.setup.name) +
                       " (Windows drops trailing dots and spaces), the file its expansion must create");
    }
    switch (facts.expansion->result) {
      case CabinetExpansion::Result::kExpanded:
        break;
      case CabinetExpansion::Result::kRefused:
        return Fails(EXIT_SETUP_EXTRACTION_FAILED, 0, "the cabinet cannot be expanded: " + facts.expansion->reason);
      default:
        return Unknown("the cabinet is not expanded: " + facts.expansion->reason);
    }
  }
  if (facts.setup_program && !facts.setup_program->is_program) {
    RunVerdict verdict =
        Fails(EXIT_SETUP_RUN_START_FAILED, kErrorBadExeFormat,
              "setup.exe is not a PE image (" + facts.setup_program->problem + "); Windows does not start it");
    verdict.setup_run = true;
    return verdict;
  }
  return {};
}

}  // namespace

std::optional<std::string> ImageTooLargeToStart(std::uint64_t size, std::string_view described_as) {
  if (size < kLargestWindowsImageSize) return std::nullopt;
  return std::string(described_as) + " " + std::to_string(size) +
         " bytes; Windows does not start a 64-bit image of 2 GiB (" + std::to_string(kLargestWindowsImageSize) +
         " bytes) or more";
}

std::vector<PayloadResource> PayloadSearchOrder(const std::vector<ResourceItem>& items) {
  std::vector<PayloadResource> payload;
  for (const PayloadType<char>& record : kPayloadTypes<char>) {
    const std::string_view type = record.name;
    const ResourceKey type_key = ResourceKey::Name(std::u16string(type.begin(), type.end()));
    const ResourceItem* previous = nullptr;
    for (const ResourceItem& entry : items) {
      if (entry.type != type_key) continue;
      if (previous == nullptr || !(previous->name == entry.name)) {
        payload.push_back(
            {std::string(type), entry.name.name, entry.name.id, static_cast<std::uint32_t>(entry.content.size)});
      }
      previous = &entry;
    }
  }
  return payload;
}

PayloadFacts ReadPayloadFacts(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items,
                              const ExtractionVerdict& search, std::uint64_t largest_expansion) {
  PayloadFacts facts;
  if (search.exit_code != 0 || search.archive == nullptr || search.setup == nullptr) return facts;
  facts.form = FindPayloadType(search.setup->type)->setup_form;
  const std::optional<PayloadFile> archive = Locate(image, items, *search.archive);
  const std::optional<PayloadFile> setup = Locate(image, items, *search.setup);
  if (!archive || !setup) {
    facts.verdict = Unknown("the data of the archive or the setup resource lies outside the file");
    return facts;
  }
  facts.archive = *archive;
  facts.setup = *setup;
  if (facts.form == SetupForm::kPlain) facts.setup.name = kSetupProgramName<char16_t>.Get();
  facts.archive_not_7z = search.archive->type == kPatchType<char>.Get() &&
                         !BeginsWith7zSignature(Prefix(source, facts.archive, std::size(k7zSignature)));
  if (facts.form == SetupForm::kCabinet) {
    ExpandSetupCabinet(source, largest_expansion, facts);
  } else if (facts.form == SetupForm::kPlain) {
    facts.setup_program_size = facts.setup.size;
    facts.setup_program = CheckSetupProgram(Prefix(source, facts.setup, kProgramHeaderWindow), facts.setup.size);
  }
  facts.verdict = Judge(facts);
  return facts;
}

namespace {

// The files written so far, removed with the directory unless the extraction completes.
class ExtractionDirectory {
 public:
  explicit ExtractionDirectory(std::filesystem::path path) : path_(std::move(path)) {}
  ExtractionDirectory(const ExtractionDirectory&) = delete;
  ExtractionDirectory& operator=(const ExtractionDirectory&) = delete;
  ~ExtractionDirectory() {
    if (!created_ || kept_) return;
    std::error_code ignored;
    for (const std::filesystem::path& file : written_) std::filesystem::remove(file, ignored);
    std::filesystem::remove(path_, ignored);
  }

  // Makes the directory, which must not exist: mkdir does not follow a link in its place.
  bool Create(std::string& error) {
    std::error_code code;
    created_ = std::filesystem::create_directory(path_, code);
    if (!created_) error = code ? "cannot be made: " + code.message() : "already exists; --into needs a new directory";
    return created_;
  }

  // Writes one file through a temporary file in the directory, moved into place only once complete.
  bool Write(const std::filesystem::path& name, const std::function<bool(std::FILE*, std::string&)>& fill,
             std::string& error) {
    std::unique_ptr<TemporaryFile> temporary = TemporaryFile::Create(path_, error);
    if (!temporary || !fill(temporary->File(), error)) return false;
    const std::filesystem::path target = path_ / name;
    if (!temporary->MoveTo(target, TemporaryFile::DefaultMode(), error)) return false;
    written_.push_back(target);
    return true;
  }

  void Keep() { kept_ = true; }

 private:
  std::filesystem::path path_;
  std::vector<std::filesystem::path> written_;
  bool created_ = false;
  bool kept_ = false;
};

// The file name on this host: one plain component, never a path.
std::optional<std::filesystem::path> HostFileName(const std::u16string& name) {
  const std::filesystem::path path = PathFromUtf8(Utf8FromUtf16(name));
  if (path.empty() || path != path.filename() || path == "." || path == "..") return std::nullopt;
  return path;
}

bool CopyRange(ByteSource& source, const PayloadFile& file, std::FILE* output, std::string& error) {
  std::vector<std::uint8_t> piece(kCopyPieceSize);
  for (std::uint64_t done = 0; done < file.size;) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), file.size - done));
    if (!source.Read(file.offset + done, piece.data(), size)) {
      error = "the installer cannot be read";
      return false;
    }
    if (std::fwrite(piece.data(), 1, size, output) != size) {
      error = "writing failed: " + SystemReason();
      return false;
    }
    done += size;
  }
  return true;
}

bool ExpandInto(ByteSource& source, const PayloadFile& cabinet, std::FILE* output, std::string& error) {
  const CabinetExpansion expansion = ExpandFirstCabinetFile(
      source, cabinet.offset, cabinet.size, kLargestCabinetExpansion, [&](std::span<const std::uint8_t> bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), output) == bytes.size();
      });
  if (expansion.result != CabinetExpansion::Result::kExpanded) error = expansion.reason;
  return expansion.result == CabinetExpansion::Result::kExpanded;
}

int EndExtraction(std::ostream& errors, int code, const std::string& reason) {
  errors << "drelix-pack: " << reason << "\n";
  return code;
}

// Writes the files the installer would write into the new folder `directory`: all of them, or none
// and the folder gone.
int WritePayloadFiles(ByteSource& source, const PayloadFacts& facts, const std::string& installer,
                      const std::string& directory, std::ostream& errors) {
  const auto stop = [&](int code, const std::string& reason) { return EndExtraction(errors, code, reason); };
  std::string error;
  // A cabinet is written as the setup program it expands to, and deleted, as the installer does.
  const PayloadFile setup_program{
      facts.form == SetupForm::kCabinet ? std::u16string(kSetupProgramName<char16_t>.Get()) : facts.setup.name,
      facts.setup.offset, facts.setup.size};
  const std::optional<std::filesystem::path> archive_name = HostFileName(facts.archive.name);
  const std::optional<std::filesystem::path> setup_name = HostFileName(setup_program.name);
  if (!archive_name || !setup_name) {
    return stop(kExtractionNotReplayed, Quoted(installer) + ": a payload name is no plain file name on this system");
  }

  ExtractionDirectory target(PathFromUtf8(directory));
  if (!target.Create(error)) return stop(kExtractionRefused, "--into " + Quoted(directory) + " " + error);
  const bool written =
      target.Write(
          *archive_name,
          [&](std::FILE* output, std::string& reason) { return CopyRange(source, facts.archive, output, reason); },
          error) &&
      target.Write(
          *setup_name,
          [&](std::FILE* output, std::string& reason) {
            return facts.form == SetupForm::kCabinet ? ExpandInto(source, facts.setup, output, reason)
                                                     : CopyRange(source, facts.setup, output, reason);
          },
          error);
  if (!written) return stop(kExtractionRefused, "cannot write into " + Quoted(directory) + ": " + error);
  target.Keep();
  if (facts.archive_not_7z) errors << "drelix-pack: warning: " << Not7zWarning() << "\n";
  if (facts.verdict.setup_run) {
    errors << "drelix-pack: warning: the installer would write these files, then fail with exit code "
           << facts.verdict.exit_code << ": " << facts.verdict.reason << "\n";
  }
  return kExtractionWritten;
}

}  // namespace

int ExtractInstaller(const std::string& installer, const std::string& directory, std::ostream& errors) {
  const auto stop = [&](int code, const std::string& reason) { return EndExtraction(errors, code, reason); };
  const auto would_fail = [&](const std::string& verdict) {
    return stop(kExtractionRefused, Quoted(installer) + " would fail" + verdict + "; nothing written");
  };
  std::string error;
  const std::optional<InputFile> input = OpenInputFile(PathFromUtf8(installer), error);
  if (!input) return stop(kExtractionRefused, Quoted(installer) + " " + error);
  FileByteSource source(input->file.get(), input->size);
  PeImage image;
  std::vector<ResourceItem> items;
  bool limit_passed = false;
  if (!ReadPeImage(source, image, error) || !ReadResourceTree(image, source, items, error, limit_passed)) {
    return stop(limit_passed ? kExtractionNotReplayed : kExtractionRefused, Quoted(installer) + ": " + error);
  }
  if (const std::optional<std::string> refusal = ImageTooLargeToStart(input->size, "the installer is"))
    return would_fail(": " + *refusal);
  const std::vector<PayloadResource> payload = PayloadSearchOrder(items);
  const ExtractionVerdict search = JudgeExtraction(payload);
  if (search.exit_code != 0) {
    return would_fail(" with exit code " + std::to_string(search.exit_code) + " (Windows error " +
                      std::to_string(search.windows_error) + "): " + search.reason);
  }
  const PayloadFacts facts = ReadPayloadFacts(image, source, items, search, kLargestCabinetExpansion);
  // A setup program Windows does not start is still written by the installer.
  if (facts.verdict.outcome == RunVerdict::Outcome::kWouldFail && !facts.verdict.setup_run) {
    return would_fail(" with exit code " + std::to_string(facts.verdict.exit_code) + " (Windows error " +
                      std::to_string(facts.verdict.windows_error) + "): " + facts.verdict.reason);
  }
  if (facts.verdict.outcome == RunVerdict::Outcome::kUnknown) {
    return stop(kExtractionNotReplayed, Quoted(installer) + ": " + facts.verdict.reason + "; nothing written");
  }
  return WritePayloadFiles(source, facts, installer, directory, errors);
}
