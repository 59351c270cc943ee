#include "extraction/setup_program_check.h"

#include <algorithm>

#include "encoding/little_endian.h"
#include "encoding/text_encoding.h"
#include "image/pe_format.h"

namespace {

constexpr std::uint16_t kPe32Magic = 0x10B;
// The optional header's standard and Windows-specific fields before the data directories.
constexpr std::uint32_t kPe32FixedOptionalSize = 96;
constexpr std::uint32_t kPe32PlusFixedOptionalSize = 112;

struct MachineName {
  std::uint16_t machine;
  const char* name;
};
constexpr MachineName kMachineNames[] = {
    {kMachineAmd64, "x64"}, {0x014C, "x86"}, {0xAA64, "ARM64"}, {0xA641, "ARM64EC"}, {0x01C4, "ARM"}, {0x0200, "IA-64"},
};

SetupProgramCheck NotAProgram(std::string problem) { return {false, 0, std::move(problem)}; }

}  // namespace

SetupProgramCheck CheckSetupProgram(std::span<const std::uint8_t> prefix, std::uint64_t size) {
  prefix = prefix.first(static_cast<std::size_t>(std::min<std::uint64_t>(prefix.size(), size)));
  // A range of the file the check needs: false when the file ends first, or when it lies past the
  // prefix that was read.
  const auto within = [&](std::uint64_t offset, std::uint64_t length, std::string& problem, const char* what) {
    if (offset + length > size) {
      problem = std::string("the file ends before its ") + what;
      return false;
    }
    if (offset + length > prefix.size()) {
      problem = std::string("its ") + what + " lies past the first " + std::to_string(kProgramHeaderWindow) +
                " bytes, which drelix-pack does not read";
      return false;
    }
    return true;
  };
  std::string problem;
  if (!within(0, kDosHeaderSize, problem, "DOS header")) return NotAProgram(problem);
  if (prefix[0] != 'M' || prefix[1] != 'Z') return NotAProgram("it does not begin with \"MZ\"");
  const std::uint64_t pe_offset = ReadUint32(prefix.data() + kDosPeSignatureOffset);
  if (!within(pe_offset, kPeSignatureSize + kCoffHeaderSize, problem, "PE signature and COFF header")) {
    return NotAProgram(problem);
  }
  const std::uint8_t* signature = prefix.data() + pe_offset;
  if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) {
    return NotAProgram("e_lfanew does not point at \"PE\\0\\0\"");
  }
  const std::uint8_t* coff = signature + kPeSignatureSize;
  const std::uint16_t optional_size = ReadUint16(coff + kCoffOptionalHeaderSizeOffset);
  const std::uint64_t optional_offset = pe_offset + kPeSignatureSize + kCoffHeaderSize;
  if (optional_size < 2) return NotAProgram("it has no optional header");
  if (!within(optional_offset, optional_size, problem, "optional header")) return NotAProgram(problem);
  const std::uint16_t magic = ReadUint16(prefix.data() + optional_offset);
  const std::uint32_t fixed_size = magic == kPe32PlusMagic ? kPe32PlusFixedOptionalSize
                                   : magic == kPe32Magic   ? kPe32FixedOptionalSize
                                                           : 0;
  if (fixed_size == 0)
    return NotAProgram("its optional header's magic " + FourHexDigits(magic) + " is neither PE32 nor PE32+");
  if (optional_size < fixed_size) return NotAProgram("its optional header is too short for its fields");
  return {true, ReadUint16(coff + kCoffMachineOffset), {}};
}

std::string MachineText(std::uint16_t machine) {
  const auto* const known = std::find_if(std::begin(kMachineNames), std::end(kMachineNames),
                                         [&](const MachineName& entry) { return entry.machine == machine; });
  return std::string(known == std::end(kMachineNames) ? "unknown" : known->name) + " (0x" + FourHexDigits(machine) +
         ")";
}

bool BeginsWith7zSignature(std::span<const std::uint8_t> prefix) {
  return prefix.size() >= std::size(k7zSignature) &&
         std::equal(std::begin(k7zSignature), std::end(k7zSignature), prefix.begin());
}

std::string Not7zWarning() {
  return "the archive is handed to the setup program as a 7z archive (type B7) but does not begin with the 7z "
         "signature 37 7A BC AF 27 1C";
}
