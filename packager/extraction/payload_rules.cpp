#include "extraction/payload_rules.h"

#include "conventions/exit_outcome.h"
#include "conventions/setup_switches.h"
#include "encoding/escaped_text.h"
#include "encoding/text_encoding.h"
#include "image/pe_format.h"

namespace {

// The Windows errors that the installer's payload search can end with.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorTooManyNames = 68;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;

char16_t FoldAscii(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit; }

// Letters, digits and the punctuation given: what names and version texts may hold.
bool IsPlainCharacter(char character, std::string_view punctuation) {
  return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
         (character >= '0' && character <= '9') || punctuation.find(character) != std::string_view::npos;
}

// Each setup form's name on the tool's command line and its default resource name.
struct SetupFormTraits {
  SetupForm form;
  std::string_view name;
  std::string_view default_name;
};

constexpr SetupFormTraits kSetupForms[] = {
    {SetupForm::kCabinet, "cabinet", "SETUP.EX_"},
    {SetupForm::kPlain, "plain", "SETUP.EXE"},
    {SetupForm::kPatch, "patch", "SETUP.PATCH"},
};

const SetupFormTraits& TraitsOf(SetupForm form) {
  for (const SetupFormTraits& traits : kSetupForms) {
    if (traits.form == form) return traits;
  }
  return kSetupForms[0];
}

}  // namespace

std::optional<SetupForm> ParseSetupForm(std::string_view text) {
  std::string lower(text);
  for (char& character : lower) character = static_cast<char>(FoldAscii(static_cast<unsigned char>(character)));
  for (const SetupFormTraits& traits : kSetupForms) {
    if (traits.name == lower) return traits.form;
  }
  return std::nullopt;
}

std::string_view SetupFormName(SetupForm form) { return TraitsOf(form).name; }

std::string_view SetupResourceType(SetupForm form) {
  for (const PayloadType<char>& record : kPayloadTypes<char>) {
    if (record.setup_form == form) return record.name;
  }
  return kPayloadTypes<char>[0].name;
}

std::string_view DefaultSetupName(SetupForm form) { return TraitsOf(form).default_name; }

const PayloadType<char>* FindPayloadType(std::string_view type) {
  for (const PayloadType<char>& record : kPayloadTypes<char>) {
    if (record.name == type) return &record;
  }
  return nullptr;
}

bool IsPayloadType(std::string_view type) { return FindPayloadType(type) != nullptr; }

std::string PayloadTypeList() {
  constexpr std::size_t count = std::size(kPayloadTypes<char>);
  std::string list;
  for (std::size_t index = 0; index < count; ++index) {
    list += index == 0 ? "" : index + 1 == count ? " or " : ", ";
    list += kPayloadTypes<char>[index].name;
  }
  return list;
}

std::string ShortestScratchDirectory() {
  return std::string("C:\\") + kScratchNamePrefix<char>.Get() + std::string(kScratchNameRandomDigits, '0') +
         kScratchNameSuffix<char>.Get() + "\\";
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& character : result) {
    if (character >= 'a' && character <= 'z') character = static_cast<char>(character - 32);
  }
  return result;
}

bool StartsWithNoCase(std::u16string_view name, std::string_view prefix) {
  if (name.size() < prefix.size()) return false;
  for (std::size_t index = 0; index < prefix.size(); ++index) {
    if (FoldAscii(name[index]) != FoldAscii(static_cast<unsigned char>(prefix[index]))) return false;
  }
  return true;
}

namespace {

// `written_as_file`: the installer writes the resource under this name, so it must fit beside the
// shortest scratch folder.
std::optional<std::string> CheckPayloadName(std::string_view option, std::string_view name, std::string_view prefix,
                                            bool written_as_file) {
  const std::string shown = std::string(option) + " " + Quoted(name);
  if (name.size() > kLongestPayloadName)
    return shown + " is longer than " + std::to_string(kLongestPayloadName) + " characters";
  if (written_as_file && name.size() > kLongestFileName) {
    return shown + " is longer than " + std::to_string(kLongestFileName) +
           " characters: the installer writes it as a file in its scratch folder, and even in the shortest one (" +
           ShortestScratchDirectory() + ") the path would pass " + std::to_string(kLongestPath) +
           " characters, so every run would end with exit code " + std::to_string(EXIT_PATH_TOO_LONG);
  }
  if (!StartsWithNoCase(Utf16FromUtf8(name), prefix)) return shown + " must begin with \"" + std::string(prefix) + "\"";
  // Windows drops a trailing dot from a file name, which would make "SETUP.EXE." name "setup.exe".
  bool plain = !name.empty() && name.back() != '.';
  for (char character : name) plain = plain && IsPlainCharacter(character, "._+~-");
  if (!plain) return shown + " must be a plain file name made of letters, digits and . _ + ~ -, not ending in a dot";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckArchiveName(std::string_view name) {
  return CheckPayloadName("--archive-name", name, kArchivePrefix<char>.Get(), true);
}

std::optional<std::string> CheckSetupName(std::string_view name, SetupForm form) {
  // A plain setup program is written as "setup.exe" whatever its resource name.
  const bool written_as_file = form != SetupForm::kPlain;
  if (std::optional<std::string> refusal =
          CheckPayloadName("--setup-name", name, kSetupPrefix<char>.Get(), written_as_file)) {
    return refusal;
  }
  // A cabinet or a patch written as "setup.exe" would be the very file the run then creates from it.
  if (written_as_file && UpperCase(name) == UpperCase(kSetupProgramName<char>.Get())) {
    return "a " + std::string(SetupFormName(form)) + " setup cannot be named " + Quoted(name) +
           ": that is the name the installer gives the setup program it makes from it";
  }
  return std::nullopt;
}

std::string ShortestInstallCommandLine(std::string_view archive_name, std::string_view archive_type,
                                       std::string_view previous_version) {
  const std::string scratch = ShortestScratchDirectory();
  const PayloadType<char>* type = FindPayloadType(archive_type);
  const std::string archive_switch = type != nullptr && type->archive_is_7z ? kInstallArchiveSwitch<char>.Get()
                                                                            : kUncompressedArchiveSwitch<char>.Get();
  return "\"" + scratch + kSetupProgramName<char>.Get() + "\" --" + archive_switch + "=\"" + scratch +
         std::string(archive_name) + "\" --" + kPreviousVersionSwitch<char>.Get() + "=\"" +
         std::string(previous_version) + "\"";
}

std::optional<std::string> CheckPreviousVersion(std::string_view text, std::string_view archive_name,
                                                std::string_view archive_type) {
  if (text.empty()) {
    return "--previous-version is empty: an empty previous version matches any installed version; leave the option "
           "out for an installer that needs none";
  }
  for (char character : text) {
    if (!IsPlainCharacter(character, " ._+~-")) {
      return "--previous-version " + Quoted(text) + " may hold only letters, digits, spaces and . _ + ~ -";
    }
  }
  const std::size_t line = ShortestInstallCommandLine(archive_name, archive_type, text).size();
  if (line > kLongestCommandLine) {
    return "--previous-version of " + std::to_string(text.size()) +
           " characters is too long: with it the installer's command line for the setup program would be at least " +
           std::to_string(line) + " characters, more than the " + std::to_string(kLongestCommandLine) +
           " it holds, so every run would end with exit code " + std::to_string(EXIT_COMMAND_LINE_TOO_LONG);
  }
  return std::nullopt;
}

namespace {

// The installer's search: each payload type in turn, each resource of it in order, the first
// "drelix..." the archive and the first "setup..." the setup program. False with `verdict` the
// failure where the installer's run would stop.
bool FindArchiveAndSetup(const std::vector<PayloadResource>& resources, ExtractionVerdict& verdict) {
  bool archive_type_known = false;
  const auto fail = [&](std::uint32_t windows_error, std::string reason) {
    verdict.exit_code = archive_type_known ? EXIT_SETUP_EXTRACTION_FAILED : EXIT_ARCHIVE_EXTRACTION_FAILED;
    verdict.windows_error = windows_error;
    verdict.reason = std::move(reason);
    return false;
  };
  for (const PayloadType<char>& record : kPayloadTypes<char>) {
    const std::string_view type = record.name;
    for (const PayloadResource& resource : resources) {
      if (resource.type != type) continue;
      // An integer id or an empty resource ends the type's pass quietly, as the enumeration does.
      if (resource.name.empty() || resource.size == 0) break;
      const bool is_archive = StartsWithNoCase(resource.name, kArchivePrefix<char>.Get());
      if (!is_archive && !StartsWithNoCase(resource.name, kSetupPrefix<char>.Get())) {
        return fail(kErrorInvalidData,
                    "resource " + std::string(type) + "/" + EscapedText(resource.name, EscapeContext::word) +
                        " is neither the archive (\"drelix...\") nor the setup program (\"setup...\")");
      }
      const PayloadResource*& kept = is_archive ? verdict.archive : verdict.setup;
      const char* role = is_archive ? "archive" : "setup resource";
      if (kept != nullptr) {
        return fail(kErrorTooManyNames, std::string("a second ") + role + ", " + std::string(type) + "/" +
                                            EscapedText(resource.name, EscapeContext::word) + ", after " + kept->type +
                                            "/" + EscapedText(kept->name, EscapeContext::word));
      }
      if (resource.name.size() > kLongestPayloadName) {
        return fail(kErrorFilenameExcedRange, std::string("the ") + role + " name " + Quoted(resource.name) +
                                                  " is longer than " + std::to_string(kLongestPayloadName) +
                                                  " characters");
      }
      if (resource.name.find_first_of(u"\\/:") != std::u16string_view::npos) {
        return fail(kErrorInvalidData, std::string("the ") + role + " name " + Quoted(resource.name) +
                                           " holds a \\, / or :, which could point outside the scratch directory");
      }
      kept = &resource;
    }
    if (verdict.archive != nullptr) archive_type_known = true;
  }
  if (verdict.archive == nullptr) {
    return fail(kErrorFileNotFound, "no archive: no resource of type " + PayloadTypeList() + " is named \"drelix...\"");
  }
  if (verdict.setup == nullptr) {
    return fail(kErrorFileNotFound,
                "no setup program: no resource of type " + PayloadTypeList() + " is named \"setup...\"");
  }
  return true;
}

// Written as files, the names must fit beside the scratch folder, which is never shorter than a
// drive root's; a plain setup program is written as "setup.exe" whatever its name.
void JudgeWrittenNames(ExtractionVerdict& verdict) {
  const SetupForm setup_form = FindPayloadType(verdict.setup->type)->setup_form;
  for (const PayloadResource* written : {verdict.archive, setup_form == SetupForm::kPlain ? nullptr : verdict.setup}) {
    if (written != nullptr && written->name.size() > kLongestFileName) {
      verdict.exit_code = EXIT_PATH_TOO_LONG;
      verdict.reason = "the name " + Quoted(written->name) + " is longer than " + std::to_string(kLongestFileName) +
                       " characters: even in the shortest scratch folder (" + ShortestScratchDirectory() +
                       ") its path would pass " + std::to_string(kLongestPath) + " characters";
      return;
    }
  }
  if (setup_form == SetupForm::kCabinet &&
      UpperCase(Utf8FromUtf16(verdict.setup->name)) == UpperCase(kSetupProgramName<char>.Get())) {
    verdict.exit_code = EXIT_SETUP_EXTRACTION_FAILED;
    verdict.reason = "the cabinet is named \"setup.exe\", the file its expansion must create";
  }
}

}  // namespace

ExtractionVerdict JudgeExtraction(const std::vector<PayloadResource>& resources) {
  ExtractionVerdict verdict;
  if (FindArchiveAndSetup(resources, verdict)) JudgeWrittenNames(verdict);
  return verdict;
}

std::optional<std::string> CheckStubResource(const ResourceKey& type, const ResourceKey& name) {
  if (type.IsName() && IsPayloadType(UpperCase(Utf8FromUtf16(type.name)))) {
    return "the stub already carries a payload (resources of type " + UpperCase(Utf8FromUtf16(type.name)) +
           "); give an installer without payload";
  }
  if (IsPreviousVersionResource(type, name)) {
    return "the stub already carries a previous version (RCDATA 1); give an installer without payload";
  }
  return std::nullopt;
}

bool IsPreviousVersionResource(const ResourceKey& type, const ResourceKey& name) {
  return type == ResourceKey::Id(kRcdataResourceType) && name == ResourceKey::Id(kPreviousVersionResourceId);
}

std::vector<std::uint8_t> PreviousVersionBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char character : text) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(character), 0});
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::optional<std::u16string> PreviousVersionText(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0) {
    return std::nullopt;
  }
  std::u16string text;
  for (std::size_t index = 0; index + 2 < bytes.size(); index += 2)
    text += static_cast<char16_t>(bytes[index] | bytes[index + 1] << 8);
  return text;
}
