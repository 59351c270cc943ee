// The installer's extraction replayed on an installer file, beyond its search for the payload
// resources (payload_rules.h): whether Windows starts an image that large, whether it can create
// files under the payload's names, whether the cabinet expands, what the setup program is and
// whether Windows would start it. --inspect reports these facts; --extract writes the files the
// installer would write, under the names it would use, and refuses what it would refuse.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cabinet/cabinet_reader.h"
#include "extraction/payload_rules.h"
#include "extraction/setup_program_check.h"
#include "host/byte_source.h"
#include "image/pe_image.h"
#include "image/resource_tree.h"

// The expansion of a cabinet's setup program is bounded by the format: a file's size and offset in
// its folder are 32-bit fields.
inline constexpr std::uint64_t kLargestCabinetExpansion = 0xFFFFFFFFull;

// A file the installer writes: its name and where its bytes lie in the installer file.
struct PayloadFile {
  std::u16string name;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// How the installer's run would end, past the payload search.
struct RunVerdict {
  enum class Outcome { kWouldSucceed, kWouldFail, kUnknown };
  Outcome outcome = Outcome::kWouldSucceed;
  bool setup_run = false;  // the extraction succeeds and starting the setup program fails
  std::uint32_t exit_code = 0;
  std::uint32_t windows_error = 0;
  std::string reason;
};

struct PayloadFacts {
  PayloadFile archive;
  PayloadFile setup;  // as the installer writes it: a cabinet, a patch or the setup program
  std::optional<SetupForm> form;
  bool archive_not_7z = false;  // a "B7" archive without the 7z signature
  // The setup program the installer writes (for a cabinet, expanded from it) and its check; not
  // for a patch.
  std::optional<CabinetExpansion> expansion;
  std::uint64_t setup_program_size = 0;
  std::string setup_program_sha256;  // of the expanded file, for the cabinet form
  std::optional<SetupProgramCheck> setup_program;
  RunVerdict verdict;
};

// Why Windows does not start an installer of `size` bytes, when it does not, after `described_as`
// ("the installer is").
std::optional<std::string> ImageTooLargeToStart(std::uint64_t size, std::string_view described_as);

// The payload resources as the installer's enumeration visits them (each name once, with its
// first language), for JudgeExtraction.
std::vector<PayloadResource> PayloadSearchOrder(const std::vector<ResourceItem>& items);

// Gathers the facts of a payload whose search succeeded (`search.exit_code` 0); the verdict covers
// names, the cabinet and the setup program. Expanding the cabinet reads it once.
PayloadFacts ReadPayloadFacts(const PeImage& image, ByteSource& source, const std::vector<ResourceItem>& items,
                              const ExtractionVerdict& search, std::uint64_t largest_expansion);

// Exit codes of --extract, numbered as --inspect's verdicts.
inline constexpr int kExtractionWritten = 0;
// The installer would not unpack it (the reason names its exit code), DIRECTORY exists, or writing
// failed. Nothing is left.
inline constexpr int kExtractionRefused = 1;
// The installer cannot be read whole, or holds what the tool cannot replay (a cabinet in LZX, a name
// it cannot write on this host): no verdict, nothing written.
inline constexpr int kExtractionNotReplayed = 3;

// --extract: writes the installer's archive and setup program (expanded from a cabinet, a patch as
// it is) into `directory`, which must not exist yet and is made here; on any failure nothing is
// left. Returns the exit code documented in the usage text, with one line on `errors` unless 0.
int ExtractInstaller(const std::string& installer, const std::string& directory, std::ostream& errors);
