#include "tool/command_line_options.h"

#include <string_view>

#include "encoding/escaped_text.h"

namespace {

// Where each option's value goes.
struct OptionTarget {
  std::string_view name;
  std::string* text = nullptr;
  std::optional<std::string>* optional_text = nullptr;
};

bool Store(const OptionTarget& target, std::string value, std::string& error) {
  const bool already = target.text != nullptr ? !target.text->empty() : target.optional_text->has_value();
  if (already) {
    error = "--" + std::string(target.name) + " is given twice";
    return false;
  }
  if (target.text != nullptr) {
    if (value.empty()) {
      error = "--" + std::string(target.name) + " needs a file name";
      return false;
    }
    *target.text = std::move(value);
  } else {
    *target.optional_text = std::move(value);
  }
  return true;
}

// The options of the command line that choose what the tool does, as given.
struct GivenOptions {
  std::string inspected;
  std::optional<std::string> format;
  std::string sbom;
  std::string extracted;
  std::string into;
  bool help = false;
  bool version = false;
  bool any_pack_option = false;
};

// Each argument to the option it names, checked only for syntax.
bool ReadOptions(const std::vector<std::string>& arguments, CommandLine& command_line, GivenOptions& given,
                 std::string& error) {
  PackOptions& pack = command_line.pack;
  std::vector<OptionTarget> targets = {
      {"archive", &pack.archive, nullptr},
      {"setup", &pack.setup, nullptr},
      {"setup-form", nullptr, &pack.setup_form},
      {"archive-name", nullptr, &pack.archive_name},
      {"archive-type", nullptr, &pack.archive_type},
      {"setup-name", nullptr, &pack.setup_name},
      {"previous-version", nullptr, &pack.previous_version},
      {"stub", nullptr, &pack.stub},
      {"output", &pack.output, nullptr},
      {"icon", nullptr, &pack.icon},
      {"inspect", &given.inspected, nullptr},
      {"trust", &command_line.trust_file, nullptr},
      {"format", nullptr, &given.format},
      {"extract", &given.extracted, nullptr},
      {"into", &given.into, nullptr},
      {"sbom", &given.sbom, nullptr},
  };
  for (const VendorTextField& field : kVendorTextFields)
    targets.push_back({field.option, nullptr, &(pack.*field.value)});
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (argument.size() < 3 || argument.compare(0, 2, "--") != 0) {
      error = "unexpected argument " + Quoted(argument) + " (options begin with --; see --help)";
      return false;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (name == "help" || name == "version") {
      if (equals != std::string::npos) {
        error = "--" + EscapedText(name, EscapeContext::word) + " takes no value";
        return false;
      }
      (name == "help" ? given.help : given.version) = true;
      continue;
    }
    const OptionTarget* target = nullptr;
    for (const OptionTarget& candidate : targets) {
      if (candidate.name == name) target = &candidate;
    }
    if (target == nullptr) {
      error = "unknown option --" + EscapedText(name, EscapeContext::word) + " (see --help)";
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (index + 1 < arguments.size()) {
      value = arguments[++index];
    } else {
      error = "--" + EscapedText(name, EscapeContext::word) + " needs a value";
      return false;
    }
    if (!Store(*target, std::move(value), error)) return false;
    given.any_pack_option =
        given.any_pack_option || (target->name != "inspect" && target->name != "trust" && target->name != "format" &&
                                  target->name != "extract" && target->name != "into" && target->name != "sbom");
  }
  return true;
}

// What the tool is to do, from the options given, and whether they go together.
bool DecideAction(GivenOptions& given, CommandLine& command_line, std::string& error) {
  if (given.help || given.version) {
    command_line.action = given.help ? CommandLine::Action::help : CommandLine::Action::version;
    return true;
  }
  if (!command_line.trust_file.empty() && given.inspected.empty()) {
    error = "--trust is only valid with --inspect";
    return false;
  }
  if (given.format && given.inspected.empty()) {
    error = "--format goes with --inspect only";
    return false;
  }
  if (!given.extracted.empty() || !given.into.empty()) {
    if (given.extracted.empty() || given.into.empty()) {
      error = "--extract FILE and --into DIRECTORY go together";
      return false;
    }
    if (given.any_pack_option || !given.inspected.empty() || !given.sbom.empty()) {
      error = "--extract takes no other options but --into";
      return false;
    }
    command_line.action = CommandLine::Action::extract;
    command_line.inspected_file = std::move(given.extracted);
    command_line.extraction_directory = std::move(given.into);
    return true;
  }
  if (!given.inspected.empty()) {
    const std::optional<ReportFormat> report_format = ParseReportFormat(given.format.value_or("text"));
    if (!report_format) {
      error = "--format must be text or json, not " + Quoted(*given.format);
      return false;
    }
    command_line.report_format = *report_format;
    if (given.any_pack_option) {
      error = "--inspect takes no packing options";
      return false;
    }
    command_line.action = CommandLine::Action::inspect;
    command_line.inspected_file = std::move(given.inspected);
    command_line.sbom_file = std::move(given.sbom);
    return true;
  }
  PackOptions& pack = command_line.pack;
  if (!given.sbom.empty()) pack.sbom = std::move(given.sbom);
  for (const auto& [required, value] :
       {std::pair{"--archive FILE", &pack.archive}, std::pair{"--setup FILE", &pack.setup},
        std::pair{"--output FILE", &pack.output}}) {
    if (value->empty()) {
      error = std::string(required) + " is required (see --help)";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& command_line, std::string& error) {
  command_line = CommandLine{};
  GivenOptions given;
  return ReadOptions(arguments, command_line, given, error) && DecideAction(given, command_line, error);
}

std::string UsageText() {
  std::string text = R"(Usage:
  drelix-pack --archive FILE --setup FILE --output FILE [--sbom FILE] [options]
  drelix-pack --inspect FILE [--trust FILE.pem] [--format text|json] [--sbom FILE]
  drelix-pack --extract FILE --into DIRECTORY

Packs a product archive and its setup program into a copy of the Drelix installer, tells what an
installer carries and whether it would unpack, or unpacks it as the installer would.

Packing options:
  --archive FILE             the product archive, stored unchanged
  --setup FILE               the setup program (or, with --setup-form patch, the patch)
  --output FILE              the installer to write; replaced only once it is complete
  --setup-form FORM          cabinet (default: compressed, expanded into setup.exe at run time),
                             plain (stored as it is) or patch (turned into setup.exe by the
                             installed setup program)
  --archive-name NAME        file name of the archive at run time, beginning with "drelix"
                             (default DRELIX.PACKED.7Z)
  --archive-type TYPE        B7 (default, a 7z archive), BL or BN (handed over as uncompressed)
  --setup-name NAME          resource name of the setup program, beginning with "setup" (default
                             SETUP.EX_, SETUP.EXE or SETUP.PATCH by form)
  --previous-version TEXT    the version a patch applies to (letters, digits, spaces and . _ + ~ -)
  --stub FILE                another installer without payload instead of the one carried inside
  --sbom FILE                also write the installer's SBOM (CycloneDX 1.6 JSON: the installer,
                             the installer build with its version, source commit, licence and
                             SHA-256, the archive and the setup program with sizes and SHA-256s);
                             neither file is written unless both are

Vendor options (what is not given keeps the installer's own):
  --icon FILE.ico            the installer's icon: every image of the file (PNG images included)
)";
  for (const VendorTextField& field : kVendorTextFields) {
    text += "  --" + std::string(field.option) + " " + std::string(field.usage) + "\n";
  }
  return text + R"(  Texts are one line of at most 256 characters.

Names are stored in upper case. Inputs and the output must be regular files, and the output none
of the inputs; it is replaced only once complete, keeping its permissions. The cabinet dates the
setup program with SOURCE_DATE_EPOCH (seconds since 1970) when it is set, else with the file's
modification time. A setup program must be a PE image (plain and cabinet forms), and the installer
less than 2 GiB, which is all Windows starts. Exit codes: 0 done, 1 refused or failed, 2 a mistake
on the command line.

Other options:
  --inspect FILE             list the payload resources with size and SHA-256, the setup form, the
                             setup program (for a cabinet: size and SHA-256 of the setup.exe it
                             expands to) and its machine, the previous version, the version block,
                             the icon sizes and the Authenticode signature (image digest
                             recomputed, signer, timestamp); exit 1 when the installer would fail
                             (Windows would not start it, extraction would fail, or the setup
                             program is no PE image), 3 when the installer cannot be read whole
                             (data outside the file, a cabinet in LZX or Quantum, or past a limit:
                             65,536 resource entries, names of 1,024 characters, hashing no more
                             bytes than the file holds), 4 when the installer is signed and the
                             signature fails (malformed certificate table, signature over
                             something else, digest mismatch, chain not verifying with --trust);
                             4 outranks 1, 1 outranks 3
  --trust FILE.pem           with --inspect: check the signer's certificate chain against the
                             certificates of this PEM file (without it: "chain not checked")
  --format text|json         with --inspect: the report as lines of text (default) or as one JSON
                             document (schema "drelix-pack-inspect/1", docs/inspect-report.md)
  --sbom FILE                with --inspect: also write the installer's SBOM, as packing does but
                             without the installer build's SHA-256 (packing rewrites those bytes;
                             an installer does not hold them as they were), for an installer that
                             was signed after packing; written only when the exit code is 0, and
                             exit 5 when FILE cannot be written
  --extract FILE --into DIRECTORY
                             write the archive and the setup program (expanded from a cabinet; a
                             patch as it is) into DIRECTORY, made new, under the names the
                             installer gives them; exit 0 written, 1 the installer would fail to
                             unpack (the reason names its exit code), DIRECTORY exists or writing
                             failed, 3 as for --inspect; nothing is left but on success
  --help                     show this text
  --version                  show the version
  Texts from the file or the command line are printed with every invisible, control or
  direction-changing character, the backslash and the quote as \uXXXX (a byte that is not UTF-8
  as \xHH). --inspect, --help and --version exit with 5 when standard output cannot be written
  (closed, a full disk), whatever else they found.
)";
}
