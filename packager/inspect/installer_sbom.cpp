#include "inspect/installer_sbom.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "encoding/escaped_text.h"
#include "encoding/json_writer.h"
#include "encoding/text_encoding.h"
#include "host/tool_version.h"
#include "image/version_block.h"
#include "signature/sha256.h"

namespace {

// The installer without payload as its own version block names it (FileDescription).
constexpr std::string_view kStubComponentName = "Drelix bootstrap installer";
// The licence of the installer's code (LICENSE), as SPDX names it.
constexpr std::string_view kStubLicence = "Zlib";

// Stable references between the document's components: they name roles, not files, so two
// documents of two installers line up.
constexpr std::string_view kInstallerReference = "installer";
constexpr std::string_view kStubReference = "installer-build";
constexpr std::string_view kArchiveReference = "archive";
constexpr std::string_view kSetupReference = "setup";
constexpr std::string_view kSetupProgramReference = "setup-program";

// The document's serial number: the same for the same document, another for any other. It is made
// from what the document says that can differ for one installer file (the installer's SHA-256, the
// stub's when packing knew it, the tool's version), as a UUID of version 8 (RFC 9562's form for
// UUIDs made in a way of one's own): the first 128 bits of their SHA-256, version and variant set.
std::string SerialNumber(const SbomSubject& subject) {
  Sha256 hash;
  const std::string identity =
      subject.sha256 + "\n" + subject.stub_sha256.value_or("") + "\n" + std::string(kToolVersion);
  hash.Update(identity.data(), identity.size());
  std::string digits = HexDigest(hash.Finish()).substr(0, 32);
  digits[12] = '8';
  digits[16] = "89ab"[std::stoi(digits.substr(16, 1), nullptr, 16) & 3];
  return "urn:uuid:" + digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" +
         digits.substr(16, 4) + "-" + digits.substr(20);
}

void WriteHashes(JsonWriter& json, std::string_view sha256) {
  json.Key("hashes").BeginArray().BeginObject().Key("alg").String("SHA-256").Key("content").String(sha256);
  json.EndObject().EndArray();
}

// Properties in the tool's own namespace: CycloneDX has no member for a file's size.
void WriteProperties(JsonWriter& json, std::initializer_list<std::pair<std::string_view, std::string>> properties) {
  json.Key("properties").BeginArray();
  for (const auto& [name, value] : properties) {
    json.BeginObject().Key("name").String(name).Key("value").String(value).EndObject();
  }
  json.EndArray();
}

// The payload resource the installer takes for `choice`: the first of its type and name, as its
// search finds it.
const PayloadResourceFacts* ChosenResource(const InstallerFacts& facts, const PayloadChoice& choice) {
  const auto found = std::find_if(facts.resources.begin(), facts.resources.end(), [&](const auto& resource) {
    return resource.type == choice.type && resource.name == ResourceKey::Name(choice.name);
  });
  return found == facts.resources.end() ? nullptr : &*found;
}

// Leaves the component open for the caller's further members.
void WriteResourceComponent(JsonWriter& json, std::string_view reference, const PayloadResourceFacts& resource,
                            std::initializer_list<std::pair<std::string_view, std::string>> properties) {
  json.BeginObject().Key("type").String("file").Key("bom-ref").String(reference);
  json.Key("name").String(resource.name.name);
  WriteHashes(json, *resource.sha256);
  WriteProperties(json, properties);
}

// The installer build the payload was packed into: its name, version, source commit and licence
// from the build identity it carries; the SHA-256 only from packing.
void WriteStubComponent(JsonWriter& json, const InstallerFacts& facts, const SbomSubject& subject) {
  json.BeginObject().Key("type").String("application").Key("bom-ref").String(kStubReference);
  json.Key("name").String(kStubComponentName);
  // "<version> <source commit>"; an image without it is no build of ours that can be named.
  const std::size_t space = facts.build.text.find(u' ');
  const bool identified = facts.build.state == FactState::present && space != std::u16string::npos;
  if (identified) json.Key("version").String(std::u16string_view(facts.build.text).substr(0, space));
  if (subject.stub_sha256) WriteHashes(json, *subject.stub_sha256);
  if (identified) {
    json.Key("licenses").BeginArray().BeginObject().Key("license").BeginObject().Key("id").String(kStubLicence);
    json.EndObject().EndObject().EndArray();
    const std::u16string_view commit = std::u16string_view(facts.build.text).substr(space + 1);
    // A build made outside a git checkout says "unknown".
    if (commit != u"unknown") {
      json.Key("pedigree").BeginObject().Key("commits").BeginArray().BeginObject().Key("uid").String(commit);
      json.EndObject().EndArray().EndObject();
    }
  }
  json.EndObject();
}

// The setup resource as stored; for a cabinet, the setup program it expands to inside it.
void WriteSetupComponent(JsonWriter& json, const InstallerFacts& facts, const PayloadResourceFacts& setup) {
  const SetupForm form = *facts.setup_form;
  WriteResourceComponent(json, kSetupReference, setup,
                         {{"drelix:resource-type", setup.type},
                          {"drelix:setup-form", std::string(SetupFormName(form))},
                          {"drelix:size", std::to_string(setup.size)}});
  if (form == SetupForm::kCabinet) {
    json.Key("components").BeginArray();
    json.BeginObject().Key("type").String("file").Key("bom-ref").String(kSetupProgramReference);
    json.Key("name").String(kSetupProgramName<char>.Get());
    WriteHashes(json, facts.payload.setup_program_sha256);
    WriteProperties(json, {{"drelix:size", std::to_string(facts.payload.setup_program_size)}});
    json.EndObject().EndArray();
  }
  json.EndObject();
}

// The version the vendor gave the installer: ProductVersion of the version block Windows shows.
const std::u16string* ProductVersion(const InstallerFacts& facts) {
  if (facts.version.state != FactState::present) return nullptr;
  return facts.version.block.Find(kProductVersionKey);
}

}  // namespace

std::optional<std::string> SbomRefusal(const InstallerFacts& facts) {
  if (facts.exit_code == kInspectionWouldSucceed) return std::nullopt;
  return "no SBOM is written of an installer --inspect does not find would succeed (exit code " +
         std::to_string(facts.exit_code) + ")";
}

std::string SbomDocument(const InstallerFacts& facts, const SbomSubject& subject) {
  JsonWriter json;
  json.BeginObject();
  json.Key("$schema").String("http://cyclonedx.org/schema/bom-1.6.schema.json");
  json.Key("bomFormat").String("CycloneDX").Key("specVersion").String("1.6");
  json.Key("serialNumber").String(SerialNumber(subject)).Key("version").Number(1);

  json.Key("metadata").BeginObject();
  json.Key("tools").BeginObject().Key("components").BeginArray();
  json.BeginObject().Key("type").String("application").Key("name").String("drelix-pack");
  json.Key("version").String(kToolVersion).EndObject();
  json.EndArray().EndObject();
  json.Key("component").BeginObject().Key("type").String("application").Key("bom-ref").String(kInstallerReference);
  json.Key("name").String(subject.file_name);
  if (const std::u16string* version = ProductVersion(facts)) json.Key("version").String(*version);
  WriteHashes(json, subject.sha256);
  WriteProperties(json, {{"drelix:size", std::to_string(subject.file_size)}});
  json.EndObject().EndObject();

  json.Key("components").BeginArray();
  WriteStubComponent(json, facts, subject);
  const PayloadResourceFacts& archive = *ChosenResource(facts, *facts.archive);
  WriteResourceComponent(json, kArchiveReference, archive,
                         {{"drelix:resource-type", archive.type}, {"drelix:size", std::to_string(archive.size)}});
  json.EndObject();
  WriteSetupComponent(json, facts, *ChosenResource(facts, *facts.setup));
  json.EndArray();

  json.Key("dependencies").BeginArray().BeginObject().Key("ref").String(kInstallerReference);
  json.Key("dependsOn").BeginArray().String(kStubReference).String(kArchiveReference).String(kSetupReference);
  json.EndArray().EndObject().EndArray();
  json.EndObject();
  return json.Text();
}

std::optional<std::string> Sha256OfAll(ByteSource& source) {
  Sha256 hash;
  if (!hash.UpdateFrom(source, 0, source.Size())) return std::nullopt;
  return HexDigest(hash.Finish());
}

bool PendingSbomFile::Examine(const std::string& path, std::initializer_list<std::optional<FileIdentity>> inputs,
                              std::string& error) {
  path_ = path;
  if (!ExamineOutput(PathFromUtf8(path), target_, error)) {
    error = "--sbom " + Quoted(path) + " " + error;
    return false;
  }
  for (const std::optional<FileIdentity>& input : inputs) {
    if (target_.exists && input && *input == target_.identity) {
      error = "--sbom " + Quoted(path) + " is a file the tool reads or writes; writing the SBOM would replace it";
      return false;
    }
  }
  return true;
}

bool PendingSbomFile::Names(const std::filesystem::path& other) const {
  return std::filesystem::absolute(PathFromUtf8(path_)).lexically_normal() ==
         std::filesystem::absolute(other).lexically_normal();
}

bool PendingSbomFile::WriteDocument(const std::string& document, std::string& error) {
  const std::filesystem::path path = PathFromUtf8(path_);
  file_ = TemporaryFile::Create(path.parent_path(), error);
  if (file_ && std::fwrite(document.data(), 1, document.size(), file_->File()) == document.size() &&
      std::fflush(file_->File()) == 0) {
    return true;
  }
  error = "--sbom " + Quoted(path_) + " cannot be written: " + (file_ ? "writing failed (disk full?)" : error);
  file_.reset();
  return false;
}

bool PendingSbomFile::Complete(std::string& error) {
  if (file_->MoveTo(PathFromUtf8(path_), target_.exists ? target_.mode : TemporaryFile::DefaultMode(), error)) {
    return true;
  }
  error = "--sbom " + Quoted(path_) + " cannot be written: " + error;
  return false;
}

int ReportInstallerWithSbom(const std::string& path, const std::string& trust_file, const std::string& sbom_path,
                            std::ostream& out, std::ostream& errors, ReportFormat format) {
  std::string error;
  const std::optional<InputFile> input = OpenInputFile(PathFromUtf8(path), error);
  if (!input) {
    errors << "drelix-pack: " << Quoted(path) << " " << error << "\n";
    return kInspectionWouldFail;
  }
  PendingSbomFile sbom;
  if (!sbom.Examine(sbom_path, {input->identity}, error)) {
    errors << "drelix-pack: " << error << "\n";
    return kSbomNotWritten;
  }
  FileByteSource source(input->file.get(), input->size);
  InstallerFacts facts;
  InspectionFailure failure;
  if (!GatherInstallerFacts(source, path, trust_file, facts, failure)) {
    errors << "drelix-pack: " << failure.message << "\n";
    return failure.exit_code;
  }
  (format == ReportFormat::json ? WriteJsonReport : WriteTextReport)(facts, out);
  if (const std::optional<std::string> refusal = SbomRefusal(facts)) {
    errors << "drelix-pack: " << *refusal << "\n";
    return facts.exit_code;
  }
  const std::optional<std::string> sha256 = Sha256OfAll(source);
  if (!sha256) {
    errors << "drelix-pack: " << Quoted(path) << " cannot be read again to hash it; no SBOM written\n";
    return kSbomNotWritten;
  }
  const SbomSubject subject{Utf8FromPath(PathFromUtf8(path).filename()), input->size, *sha256, std::nullopt};
  if (!sbom.WriteDocument(SbomDocument(facts, subject), error) || !sbom.Complete(error)) {
    errors << "drelix-pack: " << error << "\n";
    return kSbomNotWritten;
  }
  return facts.exit_code;
}
