// What packing is asked for, as the command line gives it; what the values mean is checked by
// packing. The vendor's version texts are one row each, read by the parser, the usage text, the
// checks and the version block writer alike, so a new text is one row here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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
  std::optional<std::string> sbom;  // the SBOM to write of the installer (installer_sbom.h)
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

// A vendor text option: its name on the command line (after "--"), where it is kept, the version
// block's key for it, and its value and explanation in the usage text.
struct VendorTextField {
  std::string_view option;
  std::optional<std::string> PackOptions::*value;
  std::u16string_view key;
  std::string_view usage;
};

inline constexpr VendorTextField kVendorTextFields[] = {
    {"product-name", &PackOptions::product_name, u"ProductName", "TEXT        ProductName of the version block"},
    {"company-name", &PackOptions::company_name, u"CompanyName", "TEXT        CompanyName"},
    {"file-description", &PackOptions::file_description, u"FileDescription", "TEXT    FileDescription"},
    {"copyright", &PackOptions::copyright, u"LegalCopyright", "TEXT           LegalCopyright"},
    {"product-version", &PackOptions::product_version, u"ProductVersion",
     "N.N.N.N  ProductVersion: the text as given for the string, the one to four\n"
     "                             numbers 0-65535 it begins with for the fixed part (2.3.1-beta: 2.3.1.0)"},
    {"file-version", &PackOptions::file_version, u"FileVersion", "N.N.N.N     FileVersion, the same way"},
    {"original-filename", &PackOptions::original_filename, u"OriginalFilename",
     "NAME   OriginalFilename (default: the output's file name)"},
};
