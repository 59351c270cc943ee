// The version drelix-pack reports with --version; one constant for the whole tool.
#pragma once

#include <string_view>

inline constexpr std::string_view kToolVersion = "1.0.0";
