// The payload convention the installer reads and the packaging tool writes. Three resource types,
// searched in this order; the setup resource's type says how the setup program travels, the
// archive's type how the setup program is to read the archive. Types compare exactly, case
// included; names are matched by prefix with A-Z folded.
//   "B7"  setup: a patch the installed setup program rebuilds "setup.exe" from; archive: 7z
//   "BL"  setup: a cabinet whose first file is "setup.exe";          archive: uncompressed
//   "BN"  setup: "setup.exe" itself;                                  archive: uncompressed
#pragma once

#include "conventions/ascii_text.h"

// How the setup program travels, one form per resource type.
enum class SetupForm { kPatch, kCabinet, kPlain };

// Every name below is a constant expression; the checker takes variable templates in a header for
// dynamically initialised ones.
// NOLINTBEGIN(bugprone-dynamic-static-initializers)
template <typename Char>
inline constexpr auto kPatchType = SpellAs<Char>("B7");
template <typename Char>
inline constexpr auto kCabinetType = SpellAs<Char>("BL");
template <typename Char>
inline constexpr auto kPlainType = SpellAs<Char>("BN");

// The archive's resource name begins with this prefix, the setup resource's with the other.
template <typename Char>
inline constexpr auto kArchivePrefix = SpellAs<Char>("drelix");
template <typename Char>
inline constexpr auto kSetupPrefix = SpellAs<Char>("setup");

// The file a cabinet expands to or a patch run builds, and the name a plain setup program is
// written as: what the install run starts.
template <typename Char>
inline constexpr auto kSetupProgramName = SpellAs<Char>("setup.exe");

// The types in the order the installer searches them, and the form each one stands for.
template <typename Char>
inline constexpr const Char* kPayloadTypes[] = {kPatchType<Char>.Get(), kCabinetType<Char>.Get(),
                                                kPlainType<Char>.Get()};
// NOLINTEND(bugprone-dynamic-static-initializers)
inline constexpr SetupForm kSetupFormOfPayloadType[] = {SetupForm::kPatch, SetupForm::kCabinet, SetupForm::kPlain};
