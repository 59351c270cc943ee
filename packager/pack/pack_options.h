// What packing is asked for, as the command line gives it; what the values mean is checked by
// packing. The vendor's version texts are one row each in vendor_text_fields.inc, read by the parser,
// the usage text, the checks and the version block writer alike, and by add_bootstrap_installer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/version_block.h"

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
#define VENDOR_TEXT_FIELD(option, member, key, usage) std::optional<std::string> member;
#include "pack/vendor_text_fields.inc"
#undef VENDOR_TEXT_FIELD
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
#define VENDOR_TEXT_FIELD(option, member, key, usage) {option, &PackOptions::member, key, usage},
#include "pack/vendor_text_fields.inc"
#undef VENDOR_TEXT_FIELD
};
