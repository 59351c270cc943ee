// The build identity every installer image carries: an RCDATA resource of this name holding
// "<version> <source commit>" as UTF-16 text with its terminator, written by the resource script
// from the build's version. Nothing in the installer reads it; the packaging tool's --inspect reports
// it, so an installer whose version texts are the vendor's still tells which build of the installer
// it carries. The resource script spells the name as a bare word, C++ as text.
#pragma once

#define DRELIX_BUILD_IDENTITY_RESOURCE DRELIXBUILD

#ifndef RC_INVOKED
#include "conventions/ascii_text.h"

#define DRELIX_BUILD_IDENTITY_SPELLED(name) #name
#define DRELIX_BUILD_IDENTITY_TEXT_OF(name) DRELIX_BUILD_IDENTITY_SPELLED(name)

// NOLINTBEGIN(bugprone-dynamic-static-initializers)
template <typename Char>
inline constexpr auto kBuildIdentityName = SpellAs<Char>(DRELIX_BUILD_IDENTITY_TEXT_OF(DRELIX_BUILD_IDENTITY_RESOURCE));
// NOLINTEND(bugprone-dynamic-static-initializers)
#endif
