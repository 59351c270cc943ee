// drelix-pack's command line: GNU-style long options ("--name value" or "--name=value"). Only the
// syntax is checked here (exit code 2 on a mistake); what the values mean is checked by packing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "installer_report.h"

struct PackOptions {
  std::string archive;
  std::string setup;
  std::optional<std::string> setup_form;
  std::optional<std::string> archive_name;
  std::optional<std::string> archive_type;
  std::optional<std::string> setup_name;
  std::optional<std::string> previous_version;
  std::optional<std::string> stub;
  std::string output;
  // The vendor's own icon and version block; what is not given keeps the stub's.
  std::optional<std::string> icon;
  std::optional<std::string> product_name;
  std::optional<std::string> company_name;
  std::optional<std::string> file_description;
  std::optional<std::string> copyright;
  std::optional<std::string> product_version;
  std::optional<std::string> file_version;
  std::optional<std::string> original_filename;
};

struct CommandLine {
  enum class Action { pack, inspect, extract, help, version };
  Action action = Action::pack;
  PackOptions pack;
  std::string inspected_file;  // --inspect's or --extract's installer
  std::string extraction_directory;
  std::string trust_file;                           // --trust, only with --inspect
  ReportFormat report_format = ReportFormat::text;  // --format, with --inspect only
};

// `arguments` excludes the program name. False with a one-line reason for unknown options, a
// missing or unexpected value, an option given twice, or a missing required option.
[[nodiscard]] bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& command_line,
                                    std::string& error);
std::string UsageText();
