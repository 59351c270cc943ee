// What --inspect knows about an installer, gathered once into one plain record and then rendered
// as the text report or as JSON (installer_report.h), so the two can never disagree. Gathering
// reads the file without running it, and the file may be hostile, so the work is bounded: the
// resource tree by the reader's limits (pe_image.h), and hashing by reading each distinct data block
// once and, all blocks together, no more bytes than the file holds. Texts are kept as the file holds
// them; renderers escape them (escaped_text.h). A new fact is a member here, a line where it is
// gathered and a line in each renderer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "extraction/payload_extraction.h"
#include "extraction/payload_rules.h"
#include "host/byte_source.h"
#include "image/icon_file.h"
#include "image/image_hardening.h"
#include "image/resource_key.h"
#include "image/version_block.h"
#include "signature/authenticode_signature.h"

// Exit codes of --inspect.
inline constexpr int kInspectionWouldSucceed = 0;
// Extraction would fail (the reason is in the report), or the file is no readable installer (one
// line on standard error).
inline constexpr int kInspectionWouldFail = 1;
// The installer could not be read whole: data outside the file, or past a limit of --inspect. No
// verdict is given; the reason is in the report or on standard error.
inline constexpr int kInspectionIncomplete = 3;
// The installer is signed and the signature fails: a malformed certificate table, a signature over
// something other than this image, a signer's signature that does not verify, an image digest that
// does not match, or (with a trust file) a chain that does not verify. It outranks the others.
inline constexpr int kInspectionSignatureFailed = 4;

// Whether a resource the report describes is there and could be read.
enum class FactState { none, unreadable, present };

// One resource of a payload type, in directory order.
struct PayloadResourceFacts {
  std::string type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint64_t size = 0;
  std::optional<std::string> sha256;  // lower-case hexadecimal; none when not read
  std::string not_read_reason;        // why there is no digest
};

// The resource the installer would take as the archive or the setup program.
struct PayloadChoice {
  std::string type;
  std::u16string name;
};

struct PreviousVersionFacts {
  FactState state = FactState::none;
  std::u16string text;  // when present
  std::string reason;   // when unreadable
};

// The installer build the image was made from: its version and source commit, whatever the version
// block now says.
struct BuildFacts {
  FactState state = FactState::none;
  std::u16string text;  // "<version> <commit>", when present
};

// The version resource the version API reads: VS_VERSION_INFO in the language the loader prefers.
struct VersionFacts {
  FactState state = FactState::none;
  VersionBlock block;                   // when present: numbers, translations and string tables
  std::uint16_t resource_language = 0;  // of the resource read
  std::size_t resource_count = 0;       // version resources in the image, in every language
  std::string reason;                   // when unreadable
};

// One image of the icon group, as its own bytes describe it: the group's entry is only what the
// icon API picks a size by, and an image it cannot decode shows nothing.
struct IconImageFacts {
  IconGroupEntry entry;
  std::optional<IconImageFormat> format;  // none when unreadable
  std::string reason;                     // why unreadable
};

struct IconFacts {
  FactState state = FactState::none;
  std::vector<IconImageFacts> images;  // of the first icon group, when present
  std::string reason;                  // when unreadable
};

enum class ExtractionOutcome { would_succeed, would_fail, unknown };

struct ExtractionFacts {
  ExtractionOutcome outcome = ExtractionOutcome::unknown;
  bool image_starts = true;         // false: Windows would not start the installer at all
  std::uint32_t exit_code = 0;      // the installer's, when it would fail and it starts
  std::uint32_t windows_error = 0;  // reported with it
  std::string reason;               // why it would fail, or why there is no verdict; names in it escaped
};

struct InstallerFacts {
  std::string path;  // as given on the command line
  std::vector<PayloadResourceFacts> resources;
  std::optional<PayloadChoice> archive;
  std::optional<PayloadChoice> setup;
  std::optional<SetupForm> setup_form;
  // Past the search: the files the installer writes, the setup program (for a cabinet, the
  // setup.exe it expands to) and its check, a "B7" archive without the 7z signature.
  PayloadFacts payload;
  PreviousVersionFacts previous_version;
  BuildFacts build;
  VersionFacts version;
  IconFacts icon;
  SignatureFacts signature;
  std::string trust_file;  // --trust, as given; empty when the chain was not checked
  ImageHardening hardening;
  ExtractionFacts extraction;
  // The extraction succeeds and starting the setup program would fail; none otherwise.
  std::optional<ExtractionFacts> setup_run;
  int exit_code = kInspectionWouldSucceed;  // what --inspect exits with
};

// Why there is no record: the file is no installer that can be read, with --inspect's exit code.
struct InspectionFailure {
  int exit_code = kInspectionWouldFail;
  std::string message;  // one line; the path and names in it escaped
};

// Opens `path` and gathers its facts; false with `failure` when the file cannot be read or is no
// image whose resources can be read. With `trust_file` (a PEM file of certificates; empty for none)
// the signer's certificate chain is checked against it.
[[nodiscard]] bool GatherInstallerFacts(const std::string& path, const std::string& trust_file, InstallerFacts& facts,
                                        InspectionFailure& failure);
// The same for an installer's bytes from `source`, shown as `path`.
[[nodiscard]] bool GatherInstallerFacts(ByteSource& source, const std::string& path, const std::string& trust_file,
                                        InstallerFacts& facts, InspectionFailure& failure);
