// drelix-pack: packs a product into an installer, or inspects one. On Windows the arguments come
// in as UTF-16 (wmain), so paths with any characters work; both hosts pass them on as UTF-8.
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "command_line_options.h"
#include "embedded_stub.h"
#include "installer_report.h"
#include "pack.h"
#include "text_encoding.h"
#include "tool_version.h"

namespace {

constexpr int kCommandLineMistake = 2;

int RunTool(const std::vector<std::string>& arguments) {
  CommandLine command_line;
  std::string error;
  if (!ParseCommandLine(arguments, command_line, error)) {
    std::cerr << "drelix-pack: " << error << "\n";
    return kCommandLineMistake;
  }
  switch (command_line.action) {
    case CommandLine::Action::help:
      std::cout << UsageText();
      return 0;
    case CommandLine::Action::version:
      std::cout << "drelix-pack " << kToolVersion << "\n";
      return 0;
    case CommandLine::Action::inspect:
      return ReportInstaller(command_line.inspected_file, std::cout, std::cerr);
    case CommandLine::Action::pack:
      break;
  }
  return Pack(command_line.pack, EmbeddedStub(), std::cerr);
}

}  // namespace

#ifdef _WIN32
int wmain(int count, wchar_t** values) {
  // Libraries load from the system directory only, before anything loads one (bcrypt.dll is
  // delay-loaded): a DLL planted beside the tool or in the current folder never runs.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  std::vector<std::string> arguments;
  for (int index = 1; index < count; ++index) {
    arguments.push_back(Utf8FromUtf16(reinterpret_cast<const char16_t*>(values[index])));
  }
  return RunTool(arguments);
}
#else
int main(int count, char** values) { return RunTool(std::vector<std::string>(values + 1, values + count)); }
#endif
