// The report that --inspect prints: the facts of installer_facts.h rendered as lines of text (the
// default) or as one JSON document (--format json) whose schema is docs/inspect-report.schema.json.
// Both print every text from the file or the command line escaped (escaped_text.h), so none can
// forge a line or a field.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "host/byte_source.h"
#include "inspect/installer_facts.h"

enum class ReportFormat { text, json };

// The JSON document's "schema": its name and version. Adding a member keeps the version; renaming
// or removing one, or changing what a value means, makes it the next.
inline constexpr std::string_view kInspectReportSchema = "drelix-pack-inspect/1";

// "text" or "json"; nullopt for anything else.
std::optional<ReportFormat> ParseReportFormat(std::string_view name);

void WriteTextReport(const InstallerFacts& facts, std::ostream& out);
void WriteJsonReport(const InstallerFacts& facts, std::ostream& out);

// Gathers the facts and prints the report to `out`, or, when the file is no installer that can be
// read, one line to `errors` and nothing to `out` (in either format); returns --inspect's exit code.
// With `trust_file` (a PEM file; empty for none) the signer's chain is checked against it.
int ReportInstaller(const std::string& path, const std::string& trust_file, std::ostream& out, std::ostream& errors,
                    ReportFormat format = ReportFormat::text);
// The same for an installer's bytes from `source`, shown as `path`.
int ReportInstaller(ByteSource& source, const std::string& path, const std::string& trust_file, std::ostream& out,
                    std::ostream& errors, ReportFormat format = ReportFormat::text);
