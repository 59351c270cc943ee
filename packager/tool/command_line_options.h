// drelix-pack's command line: GNU-style long options ("--name value" or "--name=value"). Only the
// syntax is checked here (exit code 2 on a mistake); what the values mean is checked by packing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inspect/installer_report.h"
#include "pack/pack_options.h"

struct CommandLine {
  enum class Action { pack, inspect, extract, help, version };
  Action action = Action::pack;
  PackOptions pack;
  std::string inspected_file;  // --inspect's or --extract's installer
  std::string extraction_directory;
  std::string trust_file;                           // --trust, only with --inspect
  ReportFormat report_format = ReportFormat::text;  // --format, with --inspect only
  std::string sbom_file;                            // --sbom, with --inspect (packing keeps it in `pack`)
};

// `arguments` excludes the program name. False with a one-line reason for unknown options, a
// missing or unexpected value, an option given twice, or a missing required option.
[[nodiscard]] bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& command_line,
                                    std::string& error);
std::string UsageText();
