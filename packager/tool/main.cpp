// drelix-pack: packs a product into an installer, inspects one, or extracts its payload. On Windows
// the arguments come in as UTF-16 (wmain), so paths with any characters work; both hosts pass them
// on as UTF-8.
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "encoding/text_encoding.h"
#include "extraction/payload_extraction.h"
#include "host/embedded_stub.h"
#include "host/standard_output.h"
#include "host/tool_version.h"
#include "inspect/installer_report.h"
#include "inspect/installer_sbom.h"
#include "pack/pack.h"
#include "tool/command_line_options.h"

namespace {

constexpr int kCommandLineMistake = 2;

// What the action prints on standard output, and its exit code.
int RunAction(const CommandLine& command_line) {
  switch (command_line.action) {
    case CommandLine::Action::help:
      std::cout << UsageText();
      return 0;
    case CommandLine::Action::version:
      std::cout << "drelix-pack " << kToolVersion << "\n";
      return 0;
    case CommandLine::Action::inspect:
      if (!command_line.sbom_file.empty()) {
        return ReportInstallerWithSbom(command_line.inspected_file, command_line.trust_file, command_line.sbom_file,
                                       std::cout, std::cerr, command_line.report_format);
      }
      return ReportInstaller(command_line.inspected_file, command_line.trust_file, std::cout, std::cerr,
                             command_line.report_format);
    case CommandLine::Action::extract:
      return ExtractInstaller(command_line.inspected_file, command_line.extraction_directory, std::cerr);
    case CommandLine::Action::pack:
      break;
  }
  return Pack(command_line.pack, EmbeddedStub(), std::cerr);
}

int RunTool(const std::vector<std::string>& arguments) {
  GuardStandardStreams();
  CommandLine command_line;
  std::string error;
  if (!ParseCommandLine(arguments, command_line, error)) {
    std::cerr << "drelix-pack: " << error << "\n";
    return kCommandLineMistake;
  }
  const int exit_code = RunAction(command_line);
  // Packing prints nothing there; a lost message on standard error cannot be reported, and the
  // exit code stays what the action returned.
  if (command_line.action == CommandLine::Action::pack) return exit_code;
  if (!FinishStandardOutput(error)) {
    std::cerr << "drelix-pack: the output could not be written to standard output: " << error << "\n";
    return kStandardOutputNotWritten;
  }
  return exit_code;
}

}  // namespace

#ifdef _WIN32
// An argument with an unpaired surrogate keeps it as the surrogate's own three bytes (not U+FFFD),
// so the texts' check refuses it as the Linux tool refuses bytes that are not UTF-8.
int wmain(int count, wchar_t** values) {
  // Libraries load from the system directory only, before anything loads one (bcrypt.dll is
  // delay-loaded): a DLL planted beside the tool or in the current folder never runs.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  std::vector<std::string> arguments;
  for (int index = 1; index < count; ++index) {
    arguments.push_back(Wtf8FromUtf16(reinterpret_cast<const char16_t*>(values[index])));
  }
  return RunTool(arguments);
}
#else
int main(int count, char** values) { return RunTool(std::vector<std::string>(values + 1, values + count)); }
#endif
