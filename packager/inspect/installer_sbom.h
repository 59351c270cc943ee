// The installer's software bill of materials (--sbom FILE): one CycloneDX 1.6 JSON document naming
// the installer with its SHA-256, the installer build it was packed into (version, source commit,
// licence) and the archive and setup program it carries, with their sizes and SHA-256s. It is a
// third rendering of --inspect's facts (installer_facts.h), written only when --inspect's verdict
// is that the installer would succeed, so it never lists what was not read. The document depends on
// the installer's bytes and the tool's version alone (no clock, no random serial number), so a
// reproducible release stays reproducible. docs/sbom.md describes it member by member.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "host/byte_source.h"
#include "host/host_file.h"
#include "host/standard_output.h"
#include "inspect/installer_facts.h"
#include "inspect/installer_report.h"

// --inspect's exit code when the SBOM cannot be written: the one for any output that is lost.
inline constexpr int kSbomNotWritten = kStandardOutputNotWritten;

// What the document says beyond --inspect's facts.
struct SbomSubject {
  std::string file_name;  // the installer's, as its own component names it
  std::uint64_t file_size = 0;
  std::string sha256;  // of the whole installer file, lower-case hexadecimal
  // Of the installer without payload the payload was packed into, as it was before packing: only
  // packing has those bytes; an installer holds the stub rewritten, so --inspect leaves it out.
  std::optional<std::string> stub_sha256;
};

// The document for an installer --inspect has gathered `facts` of, ending in a line break.
std::string SbomDocument(const InstallerFacts& facts, const SbomSubject& subject);

// Why there is no SBOM of the installer `facts` describe: --inspect's verdict is not that it would
// succeed. None when there is one.
std::optional<std::string> SbomRefusal(const InstallerFacts& facts);

// The SHA-256 of all of `source`, read in pieces; none when it cannot be read.
std::optional<std::string> Sha256OfAll(ByteSource& source);

// The SBOM file: examined when the options are (a regular file or nothing, none of the files read),
// written to a temporary file in its folder and put in place of FILE only when complete, keeping
// the permissions of a file it replaces. Dropped before completion, nothing is left.
class PendingSbomFile {
 public:
  // False with `error` (a sentence about FILE) when `path` names what is not a regular file or
  // cannot be examined, or names the file of one of `inputs`.
  [[nodiscard]] bool Examine(const std::string& path, std::initializer_list<std::optional<FileIdentity>> inputs,
                             std::string& error);
  // Whether FILE is what the name `other` leads to, or would be once written.
  bool Names(const std::filesystem::path& other) const;
  // Makes the temporary file and writes `document` to it, flushed.
  [[nodiscard]] bool WriteDocument(const std::string& document, std::string& error);
  // Puts the written file in place of FILE.
  [[nodiscard]] bool Complete(std::string& error);

 private:
  std::string path_;
  OutputTarget target_;
  std::unique_ptr<TemporaryFile> file_;
};

// --inspect with --sbom: the report as ReportInstaller prints it, and then, when the verdict is that
// the installer would succeed, the SBOM written to `sbom_path`. Returns --inspect's exit code, or
// kSbomNotWritten with one line on `errors` when FILE cannot be written; another verdict is
// reported as one line on `errors` that no SBOM was written, with the verdict's exit code.
int ReportInstallerWithSbom(const std::string& path, const std::string& trust_file, const std::string& sbom_path,
                            std::ostream& out, std::ostream& errors, ReportFormat format);
