#include "pack/pack.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cabinet/cabinet_writer.h"
#include "encoding/escaped_text.h"
#include "extraction/payload_extraction.h"
#include "extraction/payload_rules.h"
#include "extraction/setup_program_check.h"
#include "host/byte_source.h"
#include "host/host_file.h"
#include "image/image_hardening.h"
#include "image/image_writer.h"
#include "image/pe_image.h"
#include "image/resource_tree.h"
#include "image/version_block.h"
#include "inspect/installer_facts.h"
#include "inspect/installer_sbom.h"
#include "pack/vendor_resources.h"
#include "signature/sha256.h"

namespace {

// A stub is tens of kilobytes; the bound keeps a file that cannot be one from being read into memory.
constexpr std::uint64_t kLargestStubSize = 16 << 20;

// One input, open, or the reason it cannot be packed. The installer treats an empty payload
// resource as missing; other empty inputs are simply not what they must be.
std::optional<InputFile> OpenInput(
    const char* role, const std::string& path, std::string& error,
    const char* why_not_empty = "the installer would treat it as missing and refuse to run") {
  std::string reason;
  std::optional<InputFile> input = OpenInputFile(PathFromUtf8(path), reason);
  if (!input) {
    error = std::string(role) + " " + Quoted(path) + " " + reason;
    return std::nullopt;
  }
  if (input->size == 0) {
    error = std::string(role) + " " + Quoted(path) + " is empty; " + why_not_empty;
    return std::nullopt;
  }
  return input;
}

// Reads a small input whole; `what` says what it must be to be no larger than `limit`.
bool ReadWhole(const InputFile& input, const char* role, const std::string& path, std::uint64_t limit, const char* what,
               std::vector<std::uint8_t>& bytes, std::string& error) {
  if (input.size > limit) {
    error = std::string(role) + " " + Quoted(path) + " is " + std::to_string(input.size) + " bytes; " + what +
            " is at most " + std::to_string(limit);
    return false;
  }
  bytes.resize(input.size);
  if (std::fread(bytes.data(), 1, bytes.size(), input.file.get()) != bytes.size()) {
    error = std::string(role) + " " + Quoted(path) + " cannot be read";
    return false;
  }
  return true;
}

// The stub's own resources (manifest, version block, icon), which the new resource section keeps.
bool StubResources(std::span<const std::uint8_t> stub_bytes, PeImage& stub, std::vector<ResourceItem>& items,
                   std::string& error) {
  MemoryByteSource source(stub_bytes);
  if (!ReadPeImage(source, stub, error) || !ReadResourceTree(stub, source, items, error)) {
    error = "the stub is not an installer without payload: " + error;
    return false;
  }
  std::uint64_t copied = 0;
  for (ResourceItem& item : items) {
    if (const std::optional<std::string> refusal = CheckStubResource(item.type, item.name)) {
      error = *refusal;
      return false;
    }
    std::uint64_t offset = 0;
    if (!stub.FileOffsetOf(item.content.data_rva, item.content.size, offset)) {
      error = "the stub's resource data lies outside the file";
      return false;
    }
    // Each resource is copied, so resources that overlap could otherwise cost memory without end.
    copied += item.content.size;
    if (copied > stub_bytes.size()) {
      error = "the stub's resources add up to more bytes than the stub holds";
      return false;
    }
    item.content.bytes.assign(stub_bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                              stub_bytes.begin() + static_cast<std::ptrdiff_t>(offset + item.content.size));
  }
  return true;
}

ResourceItem PayloadItem(std::string_view type, std::string_view name, ResourceContent content) {
  return ResourceItem{ResourceKey::Name(std::u16string(type.begin(), type.end())),
                      ResourceKey::Name(std::u16string(name.begin(), name.end())), kEnglishUnitedStatesLanguage, 0,
                      std::move(content)};
}

ResourceItem PreviousVersionItem(const std::string& text) {
  ResourceContent content;
  content.bytes = PreviousVersionBytes(text);
  content.size = content.bytes.size();
  return ResourceItem{ResourceKey::Id(kRcdataResourceType), ResourceKey::Id(kPreviousVersionResourceId),
                      kEnglishUnitedStatesLanguage, 0, std::move(content)};
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: when set, its seconds since 1970 are the
// date the cabinet stores for the setup program, so packs of the same inputs give the same bytes
// whatever their files' modification times. Unset or empty, the file's own time is stored. Anything
// but decimal digits is refused: a date guessed from a mistyped value would not be reproducible.
bool ReadSourceDateEpoch(std::optional<std::int64_t>& seconds, std::string& error) {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (value == nullptr || *value == '\0') return true;
  const std::string_view text(value);
  std::int64_t parsed = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.front() < '0' || text.front() > '9' || status != std::errc() || end != text.data() + text.size()) {
    error = "SOURCE_DATE_EPOCH " + Quoted(text) + " must be a whole number of seconds since 1970 (digits only)";
    return false;
  }
  seconds = parsed;
  return true;
}

// The first bytes of an open input, leaving it at its start again for packing.
bool ReadPrefix(const InputFile& input, std::size_t most, std::vector<std::uint8_t>& bytes) {
  bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(input.size, most)));
  return std::fread(bytes.data(), 1, bytes.size(), input.file.get()) == bytes.size() && SeekFile(input.file.get(), 0);
}

// A plain or cabinet setup program is started by the installer: one Windows refuses to start would
// make every run end with exit code 124. A patch is no program and is not checked.
std::optional<std::string> CheckSetupInput(const InputFile& setup, const std::string& path, SetupForm form) {
  if (form == SetupForm::kPatch) return std::nullopt;
  std::vector<std::uint8_t> prefix;
  if (!ReadPrefix(setup, kProgramHeaderWindow, prefix)) return "setup program \"" + path + "\" cannot be read";
  const SetupProgramCheck check = CheckSetupProgram(prefix, setup.size);
  if (check.is_program) return std::nullopt;
  return "setup program \"" + path + "\" is not a PE image (" + check.problem +
         "): Windows would not start it and every run would end with exit code 124";
}

bool WriteSetupCabinet(const InputFile& setup, std::int64_t modified, std::FILE* cabinet, std::uint64_t& cabinet_size,
                       std::string& error) {
  const DosDateTime stamp = DosDateTimeOf(modified);
  if (!WriteCabinet(setup.file.get(), setup.size, kSetupProgramName<char>.Get(), stamp.date, stamp.time, cabinet,
                    error)) {
    error = "cannot compress the setup program: " + error;
    return false;
  }
  const std::optional<std::uint64_t> size = SizeOfOpenFile(cabinet);
  if (!size || std::fflush(cabinet) != 0) {
    error = "cannot write the setup program's cabinet (disk full?)";
    return false;
  }
  cabinet_size = *size;
  return true;
}

}  // namespace

DosDateTime DosDateTimeOf(std::int64_t seconds_since_1970) {
  using namespace std::chrono;
  constexpr std::int64_t kEarliest = 315532800;  // 1980-01-01 00:00:00
  constexpr std::int64_t kLatest = 4354819198;   // 2107-12-31 23:59:58
  const std::int64_t seconds = std::clamp(seconds_since_1970, kEarliest, kLatest);
  const sys_days day = floor<days>(sys_seconds{std::chrono::seconds{seconds}});
  const year_month_day date{day};
  const hh_mm_ss time{sys_seconds{std::chrono::seconds{seconds}} - day};
  return DosDateTime{
      static_cast<std::uint16_t>((static_cast<int>(date.year()) - 1980) << 9 |
                                 static_cast<unsigned>(date.month()) << 5 | static_cast<unsigned>(date.day())),
      static_cast<std::uint16_t>(time.hours().count() << 11 | time.minutes().count() << 5 |
                                 time.seconds().count() / 2)};
}

namespace {

// What the options settle before any file is opened.
struct PackSettings {
  std::string archive_type;
  SetupForm form = SetupForm::kCabinet;
  std::string archive_name;
  std::string setup_name;
  std::filesystem::path output;
  std::string output_name;
  std::optional<std::int64_t> source_date_epoch;
};

// Every input, opened once as a regular file and packed from that open file, and the resources of
// the installer to write.
struct PackInputs {
  std::optional<InputFile> stub_file;
  std::vector<std::uint8_t> stub_file_bytes;
  std::span<const std::uint8_t> stub_bytes;
  PeImage stub;
  std::vector<ResourceItem> items;
  std::optional<InputFile> icon;
  std::vector<std::uint8_t> icon_bytes;
  std::optional<InputFile> archive;
  std::optional<InputFile> setup;
  bool archive_not_7z = false;
  std::size_t setup_index = 0;  // of the setup resource in `items`
};

bool SettleOptions(const PackOptions& options, PackSettings& settings, std::string& error) {
  const auto refuse = [&](std::string reason) {
    error = std::move(reason);
    return false;
  };
  settings.archive_type = UpperCase(options.archive_type.value_or(std::string(kDefaultArchiveType)));
  if (!IsPayloadType(settings.archive_type)) {
    return refuse("--archive-type must be " + PayloadTypeList() + ", not " + Quoted(*options.archive_type));
  }
  const std::optional<SetupForm> form = ParseSetupForm(options.setup_form.value_or("cabinet"));
  if (!form) return refuse("--setup-form must be cabinet, plain or patch, not " + Quoted(*options.setup_form));
  settings.form = *form;
  settings.archive_name = options.archive_name.value_or(std::string(kDefaultArchiveName));
  settings.setup_name = options.setup_name.value_or(std::string(DefaultSetupName(*form)));
  for (const std::optional<std::string>& refusal :
       {CheckArchiveName(settings.archive_name), CheckSetupName(settings.setup_name, *form),
        options.previous_version
            ? CheckPreviousVersion(*options.previous_version, settings.archive_name, settings.archive_type)
            : std::nullopt,
        CheckVendorOptions(options)}) {
    if (refusal) return refuse(*refusal);
  }
  settings.output = PathFromUtf8(options.output);
  settings.output_name = Utf8FromPath(settings.output.filename());
  if (settings.output_name.empty() || settings.output_name == "." || settings.output_name == "..") {
    return refuse("--output " + Quoted(options.output) +
                  " names a folder, not a file: give the installer's file name too, such as " +
                  Quoted(Utf8FromPath(settings.output / "setup.exe")));
  }
  if (!options.original_filename) {
    if (const std::optional<std::string> refusal = CheckVersionText("--output's file name", settings.output_name)) {
      return refuse(*refusal + " (it is the installer's OriginalFilename unless --original-filename is given)");
    }
  }
  return ReadSourceDateEpoch(settings.source_date_epoch, error);
}

// The stub given with --stub, or the one the tool carries, and its resources.
bool ReadStub(const PackOptions& options, std::span<const std::uint8_t> carried_stub, PackInputs& inputs,
              std::string& error) {
  inputs.stub_bytes = carried_stub;
  if (options.stub) {
    inputs.stub_file = OpenInput("stub", *options.stub, error);
    if (!inputs.stub_file || !ReadWhole(*inputs.stub_file, "stub", *options.stub, kLargestStubSize,
                                        "an installer without payload", inputs.stub_file_bytes, error)) {
      return false;
    }
    inputs.stub_bytes = inputs.stub_file_bytes;
  }
  return StubResources(inputs.stub_bytes, inputs.stub, inputs.items, error);
}

// The vendor's icon and version texts in place of the stub's.
bool PutVendorResources(const PackOptions& options, const PackSettings& settings, PackInputs& inputs,
                        std::string& error) {
  if (options.icon) {
    inputs.icon = OpenInput("--icon", *options.icon, error, "an icon file holds at least one image");
    if (!inputs.icon ||
        !ReadWhole(*inputs.icon, "--icon", *options.icon, kLargestIconFile, "an icon file", inputs.icon_bytes, error)) {
      return false;
    }
  }
  return ApplyVendorResources(options, options.icon ? &inputs.icon_bytes : nullptr, settings.output_name, inputs.items,
                              error);
}

bool OpenPayload(const PackOptions& options, const PackSettings& settings, PackInputs& inputs, std::string& error) {
  inputs.archive = OpenInput("archive", options.archive, error);
  if (!inputs.archive) return false;
  inputs.setup = OpenInput("setup program", options.setup, error);
  if (!inputs.setup) return false;
  if (const std::optional<std::string> refusal = CheckSetupInput(*inputs.setup, options.setup, settings.form)) {
    error = *refusal;
    return false;
  }
  std::vector<std::uint8_t> archive_start;
  if (!ReadPrefix(*inputs.archive, std::size(k7zSignature), archive_start)) {
    error = "archive " + Quoted(options.archive) + " cannot be read";
    return false;
  }
  inputs.archive_not_7z = settings.archive_type == kPatchType<char>.Get() && !BeginsWith7zSignature(archive_start);
  return true;
}

// The output and the SBOM may be replaced only when they are none of the inputs, under whatever
// name, and not each other.
bool ExamineOutputIsNoInput(const PackOptions& options, const PackSettings& settings, const PackInputs& inputs,
                            OutputTarget& target, PendingSbomFile& sbom, std::string& error) {
  if (!ExamineOutput(settings.output, target, error)) {
    error = "--output " + Quoted(options.output) + " " + error;
    return false;
  }
  const std::pair<const std::optional<InputFile>*, std::pair<const char*, const std::string*>> inputs_by_option[] = {
      {&inputs.archive, {"--archive", &options.archive}},
      {&inputs.setup, {"--setup", &options.setup}},
      {&inputs.stub_file, {"--stub", options.stub ? &*options.stub : nullptr}},
      {&inputs.icon, {"--icon", options.icon ? &*options.icon : nullptr}}};
  for (const auto& [input, option] : inputs_by_option) {
    if (target.exists && *input && (*input)->identity == target.identity) {
      error = "--output " + Quoted(options.output) + " is the same file as " + option.first + " " +
              Quoted(*option.second) + "; packing would replace it";
      return false;
    }
  }
  if (!options.sbom) return true;
  const auto identity = [](const std::optional<InputFile>& input) {
    return input ? std::optional(input->identity) : std::nullopt;
  };
  if (!sbom.Examine(*options.sbom,
                    {identity(inputs.archive), identity(inputs.setup), identity(inputs.stub_file),
                     identity(inputs.icon), target.exists ? std::optional(target.identity) : std::nullopt},
                    error)) {
    return false;
  }
  if (sbom.Names(settings.output)) {
    error = "--sbom " + Quoted(*options.sbom) + " is the same file as --output";
    return false;
  }
  return true;
}

void AddPayloadResources(const PackOptions& options, const PackSettings& settings, PackInputs& inputs) {
  inputs.items.push_back(PayloadItem(settings.archive_type, UpperCase(settings.archive_name),
                                     {{}, inputs.archive->file.get(), inputs.archive->size}));
  inputs.setup_index = inputs.items.size();
  inputs.items.push_back(PayloadItem(SetupResourceType(settings.form), UpperCase(settings.setup_name),
                                     {{}, inputs.setup->file.get(), inputs.setup->size}));
  if (options.previous_version) inputs.items.push_back(PreviousVersionItem(*options.previous_version));
}

// The inputs as they are bound the image a cabinet makes, but for a few bytes per block: a payload
// that is too large is refused before anything is written. A cabinet is smaller than its setup
// program by less than the program's size: without it, the image is already too large when the
// rest is.
bool PlanWithinWindowsLimit(const PackSettings& settings, const PackInputs& inputs, ImagePlan& plan,
                            std::string& error) {
  if (!PlanImage(inputs.stub, inputs.stub_bytes, inputs.items, plan, error)) return false;
  const bool compressed = settings.form == SetupForm::kCabinet;
  if (const std::optional<std::string> refusal =
          ImageTooLargeToStart(plan.file_size - (compressed ? inputs.setup->size : 0),
                               compressed ? "the installer would be at least" : "the installer would be")) {
    error = *refusal;
    return false;
  }
  return true;
}

// For the cabinet form: the setup program compressed into a temporary cabinet beside the output,
// which then stands for it, and the image planned again with it.
bool CompressSetup(const PackSettings& settings, PackInputs& inputs, std::unique_ptr<TemporaryFile>& cabinet,
                   ImagePlan& plan, std::string& error) {
  if (settings.form != SetupForm::kCabinet) return true;
  cabinet = TemporaryFile::Create(settings.output.parent_path(), error);
  if (!cabinet) return false;
  std::uint64_t cabinet_size = 0;
  const std::int64_t setup_date = settings.source_date_epoch.value_or(inputs.setup->modified);
  if (!WriteSetupCabinet(*inputs.setup, setup_date, cabinet->File(), cabinet_size, error)) return false;
  inputs.items[inputs.setup_index].content = {{}, cabinet->File(), cabinet_size};
  if (!PlanImage(inputs.stub, inputs.stub_bytes, inputs.items, plan, error)) return false;
  if (const std::optional<std::string> refusal = ImageTooLargeToStart(plan.file_size, "the installer would be")) {
    error = *refusal;
    return false;
  }
  return true;
}

// The SBOM of the installer as written, still in its temporary file: read back as --inspect reads an
// installer, so the document lists what the file holds, not what packing meant to put there.
bool WriteSbom(const PackOptions& options, const PackSettings& settings, const PackInputs& inputs,
               TemporaryFile& installer, PendingSbomFile& sbom, std::string& error) {
  const std::optional<std::uint64_t> size = SizeOfOpenFile(installer.File());
  if (!size) {
    error = "cannot read the installer back for its SBOM";
    return false;
  }
  FileByteSource source(installer.File(), *size);
  InstallerFacts facts;
  InspectionFailure failure;
  if (!GatherInstallerFacts(source, options.output, {}, facts, failure)) {
    error = "cannot read the installer back for its SBOM: " + failure.message;
    return false;
  }
  if (const std::optional<std::string> refusal = SbomRefusal(facts)) {
    error = *refusal;
    return false;
  }
  const std::optional<std::string> sha256 = Sha256OfAll(source);
  if (!sha256) {
    error = "cannot read the installer back for its SBOM";
    return false;
  }
  Sha256 stub_hash;
  stub_hash.Update(inputs.stub_bytes.data(), inputs.stub_bytes.size());
  const SbomSubject subject{settings.output_name, *size, *sha256, HexDigest(stub_hash.Finish())};
  return sbom.WriteDocument(SbomDocument(facts, subject), error);
}

// Written to a temporary file beside the output, which takes the output's place only when whole. A
// replaced installer keeps its permissions (an executable stays executable). With an SBOM, both
// are whole before either takes its place.
bool WriteInstaller(const PackOptions& options, const PackSettings& settings, const PackInputs& inputs,
                    const ImagePlan& plan, const OutputTarget& target, PendingSbomFile& sbom, std::string& error) {
  const std::unique_ptr<TemporaryFile> temporary = TemporaryFile::Create(settings.output.parent_path(), error);
  return temporary && WriteImage(plan, inputs.stub_bytes, temporary->File(), error) &&
         (!options.sbom || WriteSbom(options, settings, inputs, *temporary, sbom, error)) &&
         temporary->MoveTo(settings.output, target.exists ? target.mode : TemporaryFile::DefaultMode(), error) &&
         (!options.sbom || sbom.Complete(error));
}

}  // namespace

int Pack(const PackOptions& options, std::span<const std::uint8_t> carried_stub, std::ostream& errors) {
  std::string error;
  const auto refused = [&] {
    errors << "drelix-pack: " << error << "\n";
    return 1;
  };
  PackSettings settings;
  if (!SettleOptions(options, settings, error)) return refused();
  PackInputs inputs;
  if (!ReadStub(options, carried_stub, inputs, error)) return refused();
  WarnOfMissingHardening(inputs.stub, inputs.stub_bytes, errors);
  if (!PutVendorResources(options, settings, inputs, error) || !OpenPayload(options, settings, inputs, error)) {
    return refused();
  }
  OutputTarget target;
  PendingSbomFile sbom;
  if (!ExamineOutputIsNoInput(options, settings, inputs, target, sbom, error)) return refused();
  AddPayloadResources(options, settings, inputs);
  ImagePlan plan;
  std::unique_ptr<TemporaryFile> cabinet;
  if (!PlanWithinWindowsLimit(settings, inputs, plan, error) ||
      !CompressSetup(settings, inputs, cabinet, plan, error) ||
      !WriteInstaller(options, settings, inputs, plan, target, sbom, error)) {
    return refused();
  }
  if (inputs.archive_not_7z) errors << "drelix-pack: warning: " << Not7zWarning() << "\n";
  return 0;
}
