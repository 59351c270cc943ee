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

// The order in which the installer searches the payload types.
inline constexpr std::array<std::string_view, 3> kPayloadTypes = {"B7", "BL", "BN"};
inline constexpr std::string_view kArchivePrefix = "drelix";
inline constexpr std::string_view kSetupPrefix = "setup";
inline constexpr std::string_view kDefaultArchiveName = "DRELIX.PACKED.7Z";
inline constexpr std::string_view kDefaultArchiveType = "B7";
// A name and its terminator must fit the installer's 260-unit path buffer.
inline constexpr std::size_t kLongestPayloadName = 259;
// The file the installer makes from a cabinet or a patch, and writes a plain setup program as.
inline constexpr std::string_view kSetupProgramName = "setup.exe";

enum class SetupForm { cabinet, plain, patch };

std::optional<SetupForm> ParseSetupForm(std::string_view text);  // any case
std::string_view SetupFormName(SetupForm form);                  // "cabinet", "plain", "patch"
std::string_view SetupResourceType(SetupForm form);              // "BL", "BN", "B7"
std::string_view DefaultSetupName(SetupForm form);
std::optional<SetupForm> SetupFormOfType(std::string_view type);

bool IsPayloadType(std::string_view type);
std::string UpperCase(std::string_view text);  // A-Z only, as the resource compiler stores names
// The installer's prefix test: only A-Z fold to lower case, every other unit must match exactly.
bool StartsWithNoCase(std::u16string_view name, std::string_view prefix);

// What packing refuses, each as a one-line reason naming `option`; nullopt when accepted.
std::optional<std::string> CheckPayloadName(std::string_view option, std::string_view name, std::string_view prefix);
std::optional<std::string> CheckSetupName(std::string_view name, SetupForm form);
std::optional<std::string> CheckPreviousVersion(std::string_view text);

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
// directory order, types in the order of kPayloadTypes.
ExtractionVerdict JudgeExtraction(const std::vector<PayloadResource>& resources);
