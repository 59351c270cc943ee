#include "image/image_hardening.h"

#include <algorithm>
#include <cstddef>

#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"
#include "image/pe_format.h"
#include "runtime/load_configuration.h"

namespace {

// The fields the report reads, where the installer's own record puts them.
constexpr std::uint32_t kDependentLoadFlagsOffset = offsetof(LoadConfigurationDirectory64, DependentLoadFlags);
constexpr std::uint32_t kSecurityCookieOffset = offsetof(LoadConfigurationDirectory64, SecurityCookie);
constexpr std::uint32_t kGuardCfFunctionTableOffset = offsetof(LoadConfigurationDirectory64, GuardCFFunctionTable);
constexpr std::uint32_t kGuardFlagsOffset = offsetof(LoadConfigurationDirectory64, GuardFlags);
// The load configuration is read up to the last field looked at.
constexpr std::uint32_t kLoadConfigReadSize = kGuardFlagsOffset + 4;
// A real debug directory has a handful of entries; the bound keeps a hostile size from taking time.
constexpr std::uint32_t kMostDebugEntries = 64;

bool ReadAtRva(const PeImage& image, ByteSource& source, std::uint32_t rva, void* destination, std::uint32_t size) {
  std::uint64_t offset = 0;
  return image.FileOffsetOf(rva, size, offset) && source.Read(offset, destination, size);
}

DataDirectory Directory(const PeImage& image, std::size_t index) {
  return index < image.directories.size() ? image.directories[index] : DataDirectory{};
}

void ReadLoadConfiguration(const PeImage& image, ByteSource& source, ImageHardening& hardening) {
  const DataDirectory directory = Directory(image, kLoadConfigurationDirectory);
  std::uint8_t config[kLoadConfigReadSize] = {};
  if (directory.virtual_address == 0 || directory.size < sizeof config ||
      !ReadAtRva(image, source, directory.virtual_address, config, sizeof config)) {
    hardening.control_flow_guard = false;  // the header flag alone names no table of targets
    return;
  }
  // The structure's own Size field says how many of its fields the image carries.
  const std::uint32_t size = std::min(ReadUint32(config), directory.size);
  const auto carries = [&](std::uint32_t offset, std::uint32_t width) { return offset + width <= size; };
  if (carries(kDependentLoadFlagsOffset, 2))
    hardening.dependent_load_flags = ReadUint16(config + kDependentLoadFlagsOffset);
  if (carries(kSecurityCookieOffset, 8)) {
    // The loader randomises the cookie in place: it must lie in a writable section of the image.
    const std::uint64_t image_base =
        ReadUint64(&image.headers[image.optional_header_offset + kOptionalImageBaseOffset]);
    const std::uint64_t cookie = ReadUint64(config + kSecurityCookieOffset);
    const SectionHeader* section = cookie > image_base && cookie - image_base < UINT32_MAX
                                       ? image.SectionContaining(static_cast<std::uint32_t>(cookie - image_base))
                                       : nullptr;
    hardening.stack_cookie = section != nullptr && (section->characteristics & kSectionMemoryWrite) != 0;
  }
  if (carries(kGuardFlagsOffset, 4)) {
    const std::uint32_t flags = ReadUint32(config + kGuardFlagsOffset);
    const std::uint32_t wanted = kGuardCfInstrumented | kGuardCfFunctionTablePresent;
    hardening.control_flow_guard = hardening.control_flow_guard && (flags & wanted) == wanted &&
                                   ReadUint64(config + kGuardCfFunctionTableOffset) != 0;
  } else {
    hardening.control_flow_guard = false;
  }
}

bool CetCompatible(const PeImage& image, ByteSource& source) {
  const DataDirectory directory = Directory(image, kDebugDirectory);
  const std::uint32_t entries = std::min(directory.size / kDebugEntrySize, kMostDebugEntries);
  for (std::uint32_t index = 0; index < entries; ++index) {
    std::uint8_t entry[kDebugEntrySize];
    if (!ReadAtRva(image, source, directory.virtual_address + index * kDebugEntrySize, entry, sizeof entry))
      return false;
    if (ReadUint32(entry + kDebugTypeOffset) != kDebugTypeExDllCharacteristics ||
        ReadUint32(entry + kDebugDataSizeOffset) < 4)
      continue;
    std::uint8_t characteristics[4];
    if (ReadAtRva(image, source, ReadUint32(entry + kDebugDataAddressOffset), characteristics,
                  sizeof characteristics) &&
        (ReadUint32(characteristics) & kExDllCharacteristicsCetCompatible) != 0) {
      return true;
    }
  }
  return false;
}

const char* YesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

ImageHardening ReadImageHardening(const PeImage& image, ByteSource& source) {
  ImageHardening hardening;
  const std::uint16_t characteristics =
      ReadUint16(&image.headers[image.optional_header_offset + kOptionalDllCharacteristicsOffset]);
  // Without relocations the loader cannot move the image, whatever the flag says.
  hardening.aslr = (characteristics & kDynamicBase) != 0 && Directory(image, kBaseRelocationDirectory).size != 0;
  hardening.high_entropy_va = hardening.aslr && (characteristics & kHighEntropyVa) != 0;
  hardening.nx = (characteristics & kNxCompatible) != 0;
  hardening.control_flow_guard = (characteristics & kGuardCf) != 0;
  ReadLoadConfiguration(image, source, hardening);
  hardening.cet_compatible = CetCompatible(image, source);
  return hardening;
}

std::string DescribeHardening(const ImageHardening& hardening) {
  return std::string("ASLR ") + YesNo(hardening.aslr) + ", high-entropy VA " + YesNo(hardening.high_entropy_va) +
         ", NX " + YesNo(hardening.nx) + ", CFG " + YesNo(hardening.control_flow_guard) + ", CET " +
         YesNo(hardening.cet_compatible) + ", DependentLoadFlags " + "0x" +
         FourHexDigits(hardening.dependent_load_flags) +
         ((hardening.dependent_load_flags & kLoadLibrarySearchSystem32) != 0 ? " (system32)" : "") + ", stack cookie " +
         YesNo(hardening.stack_cookie);
}

std::vector<std::string> MissingHardening(const ImageHardening& hardening) {
  std::vector<std::string> missing;
  const auto expect = [&](bool present, const char* name) {
    if (!present) missing.emplace_back(name);
  };
  expect(hardening.aslr, "ASLR");
  expect(hardening.high_entropy_va, "high-entropy VA");
  expect(hardening.nx, "NX");
  expect(hardening.control_flow_guard, "CFG");
  expect(hardening.cet_compatible, "CET");
  expect((hardening.dependent_load_flags & kLoadLibrarySearchSystem32) != 0, "DependentLoadFlags system32");
  expect(hardening.stack_cookie, "stack cookie");
  return missing;
}

void WarnOfMissingHardening(const PeImage& stub, std::span<const std::uint8_t> stub_bytes, std::ostream& errors) {
  MemoryByteSource source(stub_bytes);
  const std::vector<std::string> missing = MissingHardening(ReadImageHardening(stub, source));
  if (missing.empty()) return;
  errors << "drelix-pack: warning: the stub lacks";
  for (std::size_t index = 0; index < missing.size(); ++index) errors << (index == 0 ? " " : ", ") << missing[index];
  errors << "; the installer is packed without them\n";
}
