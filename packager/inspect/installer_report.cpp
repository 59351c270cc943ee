#include "inspect/installer_report.h"

#include "encoding/escaped_text.h"
#include "encoding/json_writer.h"
#include "encoding/text_encoding.h"
#include "extraction/setup_program_check.h"

namespace {

std::string KeyText(const ResourceKey& key) {
  return key.IsName() ? EscapedText(key.name, EscapeContext::word) : "#" + std::to_string(key.id);
}

std::string ChoiceText(const std::optional<PayloadChoice>& choice) {
  return choice ? choice->type + "/" + EscapedText(choice->name, EscapeContext::word) : "none";
}

std::string_view StateName(FactState state) {
  switch (state) {
    case FactState::none:
      return "none";
    case FactState::unreadable:
      return "unreadable";
    case FactState::present:
      break;
  }
  return "present";
}

std::string_view OutcomeName(ExtractionOutcome outcome) {
  switch (outcome) {
    case ExtractionOutcome::would_succeed:
      return "would_succeed";
    case ExtractionOutcome::would_fail:
      return "would_fail";
    case ExtractionOutcome::unknown:
      break;
  }
  return "unknown";
}

void WriteTextVersion(const VersionFacts& version, std::ostream& out) {
  if (version.state != FactState::present) {
    out << "version: " << (version.state == FactState::none ? "none" : "unreadable (" + version.reason + ")") << "\n";
    return;
  }
  const VersionBlock& block = version.block;
  const VersionStringTable* table = block.TableRead();
  out << "version: file " << VersionNumbersText(block.file_version) << ", product "
      << VersionNumbersText(block.product_version);
  if (block.translations.empty()) {
    out << ", no translation";
  } else {
    out << ", language " << FourHexDigits(block.translations[0].language) << ", code page "
        << block.translations[0].code_page;
  }
  out << ", string table " << (table != nullptr ? EscapedText(table->key, EscapeContext::word) : "none")
      << " of resource language " << version.resource_language;
  if (version.resource_count > 1) {
    out << " (the one of " << version.resource_count << " that the version API reads on an English system)";
  }
  out << "\n";
  if (table == nullptr) return;
  for (const auto& [key, value] : table->strings) {
    out << "version text: " << EscapedText(key, EscapeContext::word) << "=" << Quoted(value) << "\n";
  }
}

void WriteTextIcon(const IconFacts& icon, std::ostream& out) {
  if (icon.state != FactState::present) {
    out << "icon: " << (icon.state == FactState::none ? "none" : "unreadable (" + icon.reason + ")") << "\n";
    return;
  }
  out << "icon:";
  for (std::size_t index = 0; index < icon.images.size(); ++index) {
    const IconImageFacts& image = icon.images[index];
    out << (index == 0 ? " " : ", ");
    if (!image.format) {
      out << "image #" << image.entry.id << " unreadable (" << image.reason << ")";
      continue;
    }
    out << image.format->width << "x" << image.format->height << " " << image.format->bit_count << "-bit";
    if (image.format->width != image.entry.width || image.format->height != image.entry.height) {
      out << " (its group entry says " << image.entry.width << "x" << image.entry.height << ")";
    }
  }
  out << "\n";
}

// The signature's facts, a line each; only what was read is printed, and a chain is never called
// good unless it was checked against the trust file the user named. The signer's names come
// escaped from the reader.
void WriteTextSignature(const SignatureFacts& signature, const std::string& trust_file, std::ostream& out) {
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
  switch (signature.chain) {
    case ChainCheck::not_checked:
      out << "signature chain: not checked (no --trust given)\n";
      break;
    case ChainCheck::verifies:
      out << "signature chain: verifies against " << Quoted(trust_file) << "\n";
      break;
    case ChainCheck::fails:
      out << "signature chain: fails against " << Quoted(trust_file) << ": " << signature.chain_problem << "\n";
      break;
  }
}

std::string_view ChainName(ChainCheck chain) {
  switch (chain) {
    case ChainCheck::verifies:
      return "verifies";
    case ChainCheck::fails:
      return "fails";
    case ChainCheck::not_checked:
      break;
  }
  return "not_checked";
}

std::string PreviousVersionText(const PreviousVersionFacts& previous) {
  switch (previous.state) {
    case FactState::none:
      return "none";
    case FactState::unreadable:
      return "none (" + previous.reason + ")";
    case FactState::present:
      break;
  }
  return Quoted(previous.text);
}

std::string BuildText(const BuildFacts& build) {
  return build.state == FactState::present ? EscapedText(build.text, EscapeContext::quoted)
                                           : std::string(StateName(build.state));
}

std::string ExtractionText(const ExtractionFacts& extraction) {
  switch (extraction.outcome) {
    case ExtractionOutcome::would_succeed:
      return "would succeed";
    case ExtractionOutcome::would_fail:
      if (!extraction.image_starts) return "would fail: " + extraction.reason;
      return "would fail with exit code " + std::to_string(extraction.exit_code) + " (Windows error " +
             std::to_string(extraction.windows_error) + "): " + extraction.reason;
    case ExtractionOutcome::unknown:
      break;
  }
  return "unknown, " + extraction.reason;
}

// What the setup program is: its machine, a patch (nothing to look at before the patch run), or why
// it is not a program Windows starts.
std::string SetupMachineText(const PayloadFacts& payload) {
  if (payload.form == SetupForm::kPatch) return "not applicable (a patch)";
  if (!payload.setup_program) return "unknown";
  if (payload.setup_program->is_program) return MachineText(payload.setup_program->machine);
  return "none, not a PE image: " + payload.setup_program->problem;
}

bool SetupProgramExpanded(const PayloadFacts& payload) {
  return payload.expansion && payload.expansion->result == CabinetExpansion::Result::kExpanded;
}

void WriteJsonChoice(JsonWriter& json, std::string_view key, const std::optional<PayloadChoice>& choice) {
  json.Key(key);
  if (!choice) {
    json.Null();
    return;
  }
  json.BeginObject().Key("type").String(choice->type).Key("name").String(choice->name).EndObject();
}

// A member that is there only with some states: null otherwise, so every document has every key.
void WriteJsonText(JsonWriter& json, std::string_view key, bool present, std::string_view text) {
  json.Key(key);
  if (present) {
    json.String(text);
  } else {
    json.Null();
  }
}

void WriteJsonVersion(JsonWriter& json, const VersionFacts& version) {
  const bool present = version.state == FactState::present;
  json.Key("version").BeginObject().Key("state").String(StateName(version.state));
  WriteJsonText(json, "reason", version.state == FactState::unreadable, version.reason);
  WriteJsonText(json, "file_version", present, VersionNumbersText(version.block.file_version));
  WriteJsonText(json, "product_version", present, VersionNumbersText(version.block.product_version));
  json.Key("resource_language");
  if (present) {
    json.Number(version.resource_language);
  } else {
    json.Null();
  }
  json.Key("resource_count").Number(version.resource_count);
  json.Key("translations").BeginArray();
  for (const VersionTranslation& translation : version.block.translations) {
    json.BeginObject().Key("language").String(FourHexDigits(translation.language));
    json.Key("code_page").Number(translation.code_page).EndObject();
  }
  json.EndArray();
  const VersionStringTable* table = present ? version.block.TableRead() : nullptr;
  WriteJsonText(json, "string_table", table != nullptr, table != nullptr ? Utf8FromUtf16(table->key) : "");
  json.Key("texts").BeginArray();
  if (table != nullptr) {
    for (const auto& [key, value] : table->strings) {
      json.BeginObject().Key("key").String(key).Key("value").String(value).EndObject();
    }
  }
  json.EndArray().EndObject();
}

void WriteJsonIcon(JsonWriter& json, const IconFacts& icon) {
  json.Key("icon").BeginObject().Key("state").String(StateName(icon.state));
  WriteJsonText(json, "reason", icon.state == FactState::unreadable, icon.reason);
  json.Key("images").BeginArray();
  for (const IconImageFacts& image : icon.images) {
    json.BeginObject().Key("id").Number(image.entry.id);
    json.Key("entry_width").Number(image.entry.width).Key("entry_height").Number(image.entry.height);
    json.Key("width");
    if (image.format) {
      json.Number(image.format->width).Key("height").Number(image.format->height);
      json.Key("bit_count").Number(image.format->bit_count);
    } else {
      json.Null().Key("height").Null().Key("bit_count").Null();
    }
    WriteJsonText(json, "reason", !image.format, image.reason);
    json.EndObject();
  }
  json.EndArray().EndObject();
}

void WriteJsonSignature(JsonWriter& json, const SignatureFacts& signature, const std::string& trust_file) {
  json.Key("signature").BeginObject().Key("present").Boolean(signature.present);
  json.Key("certificate_table_size").Number(signature.table_size);
  json.Key("verified").Boolean(signature.present && !signature.Failed());
  WriteJsonText(json, "failure", signature.Failed(), signature.failure);
  const bool digest_read = !signature.image_digest.empty();
  WriteJsonText(json, "digest_algorithm", digest_read, signature.digest_algorithm);
  WriteJsonText(json, "signed_digest", digest_read, signature.signed_digest);
  WriteJsonText(json, "image_digest", digest_read, signature.image_digest);
  json.Key("digest_matches").Boolean(signature.DigestMatches());
  const bool signer_read = !signature.signer_subject.empty();
  WriteJsonText(json, "signer_subject", signer_read, signature.signer_subject);
  WriteJsonText(json, "signer_issuer", signer_read, signature.signer_issuer);
  WriteJsonText(json, "signing_time", !signature.signing_time.empty(), signature.signing_time);
  WriteJsonText(json, "signing_time_source", !signature.signing_time.empty(), signature.signing_time_source);
  json.Key("chain").String(ChainName(signature.chain));
  WriteJsonText(json, "trust_file", signature.chain != ChainCheck::not_checked, trust_file);
  WriteJsonText(json, "chain_problem", signature.chain == ChainCheck::fails, signature.chain_problem);
  json.EndObject();
}

void WriteJsonHardening(JsonWriter& json, const ImageHardening& hardening) {
  json.Key("hardening").BeginObject();
  json.Key("aslr").Boolean(hardening.aslr).Key("high_entropy_va").Boolean(hardening.high_entropy_va);
  json.Key("nx").Boolean(hardening.nx).Key("control_flow_guard").Boolean(hardening.control_flow_guard);
  json.Key("cet_compatible").Boolean(hardening.cet_compatible);
  json.Key("dependent_load_flags").Number(hardening.dependent_load_flags);
  json.Key("stack_cookie").Boolean(hardening.stack_cookie);
  json.EndObject();
}

void WriteJsonSetupProgram(JsonWriter& json, const PayloadFacts& payload) {
  const bool expanded = SetupProgramExpanded(payload);
  const std::optional<SetupProgramCheck>& check = payload.setup_program;
  json.Key("setup_program").BeginObject();
  json.Key("expanded_size");
  if (expanded) {
    json.Number(payload.setup_program_size);
  } else {
    json.Null();
  }
  WriteJsonText(json, "expanded_sha256", expanded, payload.setup_program_sha256);
  json.Key("is_program");
  if (check) {
    json.Boolean(check->is_program);
  } else {
    json.Null();
  }
  json.Key("machine");
  if (check && check->is_program) {
    json.Number(check->machine);
  } else {
    json.Null();
  }
  WriteJsonText(json, "machine_text", true, SetupMachineText(payload));
  json.EndObject();
  json.Key("archive_not_7z").Boolean(payload.archive_not_7z);
}

// `key` empty: the object is an array element or the value of a key already written.
void WriteJsonExtraction(JsonWriter& json, std::string_view key, const ExtractionFacts& extraction) {
  if (!key.empty()) json.Key(key);
  const bool fails = extraction.outcome == ExtractionOutcome::would_fail && extraction.image_starts;
  json.BeginObject().Key("outcome").String(OutcomeName(extraction.outcome));
  json.Key("image_starts").Boolean(extraction.image_starts);
  json.Key("exit_code");
  if (fails) {
    json.Number(extraction.exit_code).Key("windows_error").Number(extraction.windows_error);
  } else {
    json.Null().Key("windows_error").Null();
  }
  WriteJsonText(json, "reason", extraction.outcome != ExtractionOutcome::would_succeed, extraction.reason);
  json.EndObject();
}

}  // namespace

std::optional<ReportFormat> ParseReportFormat(std::string_view name) {
  if (name == "text") return ReportFormat::text;
  if (name == "json") return ReportFormat::json;
  return std::nullopt;
}

void WriteTextReport(const InstallerFacts& facts, std::ostream& out) {
  out << "installer: " << EscapedText(facts.path, EscapeContext::quoted) << "\n";
  for (const PayloadResourceFacts& resource : facts.resources) {
    out << "resource: type=" << resource.type << " name=" << KeyText(resource.name) << " language=" << resource.language
        << " size=" << resource.size
        << " sha256=" << (resource.sha256 ? *resource.sha256 : "(not read: " + resource.not_read_reason + ")") << "\n";
  }
  out << "archive: " << ChoiceText(facts.archive) << "\n";
  out << "setup: " << ChoiceText(facts.setup) << "\n";
  out << "setup form: " << (facts.setup_form ? SetupFormName(*facts.setup_form) : "unknown") << "\n";
  if (SetupProgramExpanded(facts.payload)) {
    out << "setup program: setup.exe expanded from the cabinet: size=" << facts.payload.setup_program_size
        << " sha256=" << facts.payload.setup_program_sha256 << "\n";
  }
  out << "setup machine: " << SetupMachineText(facts.payload) << "\n";
  if (facts.payload.archive_not_7z) out << "warning: " << Not7zWarning() << "\n";
  out << "previous version: " << PreviousVersionText(facts.previous_version) << "\n";
  out << "installer build: " << BuildText(facts.build) << "\n";
  WriteTextVersion(facts.version, out);
  WriteTextIcon(facts.icon, out);
  WriteTextSignature(facts.signature, facts.trust_file, out);
  out << "hardening: " << DescribeHardening(facts.hardening) << "\n";
  out << "extraction: " << ExtractionText(facts.extraction) << "\n";
  if (facts.setup_run) out << "setup run: " << ExtractionText(*facts.setup_run) << "\n";
}

void WriteJsonReport(const InstallerFacts& facts, std::ostream& out) {
  JsonWriter json;
  json.BeginObject().Key("schema").String(kInspectReportSchema).Key("installer").String(facts.path);
  json.Key("resources").BeginArray();
  for (const PayloadResourceFacts& resource : facts.resources) {
    json.BeginObject().Key("type").String(resource.type);
    json.Key("name");
    if (resource.name.IsName()) {
      json.String(resource.name.name);
    } else {
      json.Null();
    }
    json.Key("id");
    if (resource.name.IsName()) {
      json.Null();
    } else {
      json.Number(resource.name.id);
    }
    json.Key("language").Number(resource.language).Key("size").Number(resource.size);
    WriteJsonText(json, "sha256", resource.sha256.has_value(), resource.sha256.value_or(""));
    WriteJsonText(json, "not_read_reason", !resource.sha256, resource.not_read_reason);
    json.EndObject();
  }
  json.EndArray();
  WriteJsonChoice(json, "archive", facts.archive);
  WriteJsonChoice(json, "setup", facts.setup);
  WriteJsonText(json, "setup_form", facts.setup_form.has_value(),
                facts.setup_form ? SetupFormName(*facts.setup_form) : "");
  WriteJsonSetupProgram(json, facts.payload);
  const PreviousVersionFacts& previous = facts.previous_version;
  json.Key("previous_version").BeginObject().Key("state").String(StateName(previous.state));
  WriteJsonText(json, "reason", previous.state == FactState::unreadable, previous.reason);
  json.Key("text");
  if (previous.state == FactState::present) {
    json.String(previous.text);
  } else {
    json.Null();
  }
  json.EndObject();
  json.Key("installer_build").BeginObject().Key("state").String(StateName(facts.build.state));
  WriteJsonText(json, "text", facts.build.state == FactState::present, Utf8FromUtf16(facts.build.text));
  json.EndObject();
  WriteJsonVersion(json, facts.version);
  WriteJsonIcon(json, facts.icon);
  WriteJsonSignature(json, facts.signature, facts.trust_file);
  WriteJsonHardening(json, facts.hardening);
  WriteJsonExtraction(json, "extraction", facts.extraction);
  json.Key("setup_run");
  if (facts.setup_run) {
    WriteJsonExtraction(json, {}, *facts.setup_run);
  } else {
    json.Null();
  }
  json.Key("exit_code").Number(static_cast<std::uint64_t>(facts.exit_code)).EndObject();
  out << json.Text();
}

namespace {

int Print(bool gathered, const InstallerFacts& facts, const InspectionFailure& failure, std::ostream& out,
          std::ostream& errors, ReportFormat format) {
  if (!gathered) {
    errors << "drelix-pack: " << failure.message << "\n";
    return failure.exit_code;
  }
  (format == ReportFormat::json ? WriteJsonReport : WriteTextReport)(facts, out);
  return facts.exit_code;
}

}  // namespace

int ReportInstaller(const std::string& path, const std::string& trust_file, std::ostream& out, std::ostream& errors,
                    ReportFormat format) {
  InstallerFacts facts;
  InspectionFailure failure;
  const bool gathered = GatherInstallerFacts(path, trust_file, facts, failure);
  return Print(gathered, facts, failure, out, errors, format);
}

int ReportInstaller(ByteSource& source, const std::string& path, const std::string& trust_file, std::ostream& out,
                    std::ostream& errors, ReportFormat format) {
  InstallerFacts facts;
  InspectionFailure failure;
  const bool gathered = GatherInstallerFacts(source, path, trust_file, facts, failure);
  return Print(gathered, facts, failure, out, errors, format);
}
