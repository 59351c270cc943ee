// The version drelix-pack reports with --version: the build's one version, which the build takes
// from the source history (cmake/SourceVersion.cmake) and hands over as DRELIX_VERSION.
#pragma once

#include <string_view>

inline constexpr std::string_view kToolVersion = DRELIX_VERSION;
