// The payload convention the installer reads and the packaging tool writes. Three resource types,
// searched in this order; the setup resource's type says how the setup program travels, the
// archive's type how the setup program is to read the archive. Types compare exactly, case
// included; names are matched by prefix with A-Z folded.
//   "B7"  setup: a patch the installed setup program rebuilds "setup.exe" from; archive: 7z
//   "BL"  setup: a cabinet whose first file is "setup.exe";          archive: uncompressed
//   "BN"  setup: "setup.exe" itself;                                  archive: uncompressed
#pragma once

#include "conventions/ascii_text.h"

// RCDATA resource 1 carries the version a patch applies to: UTF-16 text ending in a zero unit.
inline constexpr unsigned kPreviousVersionResourceId = 1;

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

// One record per type, in the order the installer searches them: the form a setup resource of the
// type travels in, and whether an archive of the type is a 7z archive (only "B7"; the others are
// handed over as uncompressed).
template <typename Char>
struct PayloadType {
  const Char* name;
  SetupForm setup_form;
  bool archive_is_7z;
};

template <typename Char>
inline constexpr PayloadType<Char> kPayloadTypes[] = {
    {kPatchType<Char>.Get(), SetupForm::kPatch, true},
    {kCabinetType<Char>.Get(), SetupForm::kCabinet, false},
    {kPlainType<Char>.Get(), SetupForm::kPlain, false},
};
// NOLINTEND(bugprone-dynamic-static-initializers)
