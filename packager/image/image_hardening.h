// The hardening a binary scanner looks for in a 64-bit Windows image, read from the file: ASLR
// (with relocations to apply it), high-entropy ASLR, NX, Control Flow Guard (the header flag and a
// load configuration that names the function table), CET shadow-stack compatibility, the search
// path for the libraries the imports pull in and a stack cookie the loader randomises. The
// installer's own image has them all; packing keeps them. (The signature is checked apart, in
// authenticode_signature.h: its presence alone says nothing.)
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "host/byte_source.h"
#include "image/pe_image.h"

struct ImageHardening {
  bool aslr = false;
  bool high_entropy_va = false;
  bool nx = false;
  bool control_flow_guard = false;
  bool cet_compatible = false;
  std::uint16_t dependent_load_flags = 0;
  bool stack_cookie = false;
};

// What the image's headers, load configuration and debug directory say; a directory that points
// outside the file counts as absent.
ImageHardening ReadImageHardening(const PeImage& image, ByteSource& source);

// One line, as --inspect prints it after "hardening: ".
std::string DescribeHardening(const ImageHardening& hardening);

// The names of what an installer image should carry and this one lacks.
std::vector<std::string> MissingHardening(const ImageHardening& hardening);

// Warns on `errors`, by name, of what the stub lacks; the installer is packed all the same.
void WarnOfMissingHardening(const PeImage& stub, std::span<const std::uint8_t> stub_bytes, std::ostream& errors);
