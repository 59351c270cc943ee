// The installer's payload convention, shared by packing and inspecting: which resource types and
// names the installer looks for at run time, what packing refuses so that a run cannot fail on a
// name, and a replay of the run-time search that tells whether an installer's payload would unpack.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conventions/buffer_capacities.h"
#include "conventions/payload_convention.h"
#include "conventions/scratch_directory_name.h"
#include "image/resource_key.h"

// The resource types, name prefixes and the setup program's name come from the installer's own
// convention header; these are the packing tool's defaults.
inline constexpr std::string_view kDefaultArchiveName = "DRELIX.PACKED.7Z";
inline constexpr std::string_view kDefaultArchiveType = kPatchType<char>.Get();  // a 7z archive
// The installer's paths and names fit its path buffer with their terminator.
inline constexpr std::size_t kLongestPath = kPathCapacity - 1;
inline constexpr std::size_t kLongestPayloadName = kLongestPath;
// The installer writes its payload into its scratch folder beside itself. The shortest such folder
// is in a drive's root (the installer's own path is always a full one): "C:\QV_00000.tmp\" is the
// shortest path any payload file name is appended to ...
std::string ShortestScratchDirectory();
inline constexpr std::size_t kShortestScratchDirectoryLength = 3 + decltype(kScratchNamePrefix<char>)::Length() +
                                                               kScratchNameRandomDigits +
                                                               decltype(kScratchNameSuffix<char>)::Length() + 1;
// ... and a name written as a file that is longer than this always ends the run with exit code 108.
inline constexpr std::size_t kLongestFileName = kLongestPath - kShortestScratchDirectoryLength;
// The install command line with its terminator fits the installer's command-line buffer; a line
// whose fixed pieces do not fit ends the run with exit code 105.
inline constexpr std::size_t kLongestCommandLine = kCommandLineCapacity - 1;

std::optional<SetupForm> ParseSetupForm(std::string_view text);  // any case
std::string_view SetupFormName(SetupForm form);                  // "cabinet", "plain", "patch"
std::string_view SetupResourceType(SetupForm form);              // "BL", "BN", "B7"
std::string_view DefaultSetupName(SetupForm form);
// The convention's record of a resource type, compared exactly; null for any other type.
const PayloadType<char>* FindPayloadType(std::string_view type);

bool IsPayloadType(std::string_view type);
std::string PayloadTypeList();                 // "B7, BL or BN", for messages
std::string UpperCase(std::string_view text);  // A-Z only, as the resource compiler stores names
// The installer's prefix test: only A-Z fold to lower case, every other unit must match exactly.
bool StartsWithNoCase(std::u16string_view name, std::string_view prefix);

// What packing refuses, each as a one-line reason naming the option; nullopt when accepted. The
// archive is always written under its resource name, and so is a cabinet or a patch, so those names
// must fit beside the shortest scratch folder.
std::optional<std::string> CheckArchiveName(std::string_view name);
std::optional<std::string> CheckSetupName(std::string_view name, SetupForm form);
// The version text must be plain and non-empty (an empty one matches any installed version), and
// the install command line the installer builds from it must fit even from a drive's root.
std::optional<std::string> CheckPreviousVersion(std::string_view text, std::string_view archive_name,
                                                std::string_view archive_type);
// A stub must carry no payload and no previous version of its own: packing adds them.
std::optional<std::string> CheckStubResource(const ResourceKey& type, const ResourceKey& name);

// The previous version: UTF-16LE text ending in a zero unit, as the installer reads it.
bool IsPreviousVersionResource(const ResourceKey& type, const ResourceKey& name);
std::vector<std::uint8_t> PreviousVersionBytes(std::string_view text);
// The text the installer would take from the resource's bytes; nullopt when it would take none.
std::optional<std::u16string> PreviousVersionText(const std::vector<std::uint8_t>& bytes);
// The install command line without the installer's own arguments, as the installer builds it in
// the shortest scratch folder: every installer's line is at least this long.
std::string ShortestInstallCommandLine(std::string_view archive_name, std::string_view archive_type,
                                       std::string_view previous_version);

// One resource of a payload type, in the order the installer's enumeration reports it.
struct PayloadResource {
  std::string type;
  std::u16string name;  // empty for an integer id
  std::uint16_t id = 0;
  std::uint32_t size = 0;
};

struct ExtractionVerdict {
  std::uint32_t exit_code = 0;      // 0 when extraction would succeed
  std::uint32_t windows_error = 0;  // the error the installer would report with it
  std::string reason;               // why it would fail; empty on success
  const PayloadResource* archive = nullptr;
  const PayloadResource* setup = nullptr;
};

// Replays the installer's search over `resources`, which hold each payload type's resources in
// directory order, types in the order the installer searches them.
ExtractionVerdict JudgeExtraction(const std::vector<PayloadResource>& resources);
