// The hardening a scanner checks, read from the real installer without payload and from an
// installer packed from it (packing moves the relocations and rebuilds the resources, and must keep
// the load configuration and the debug directory where they point), and the warnings for a stub
// that lacks some of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "encoding/little_endian.h"
#include "extraction/setup_program_check.h"
#include "host/byte_source.h"
#include "image/image_hardening.h"
#include "image/pe_image.h"
#include "pack/pack.h"
#include "runtime/load_configuration.h"
#include "stub_packing_test.h"

namespace {

ImageHardening HardeningOf(const Bytes& bytes) {
  MemoryByteSource source(bytes);
  PeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, image, error)) << error;
  return ReadImageHardening(image, source);
}

std::uint64_t FileOffsetOf(const PeImage& image, std::uint32_t rva, std::uint32_t size) {
  std::uint64_t offset = 0;
  EXPECT_TRUE(image.FileOffsetOf(rva, size, offset)) << rva;
  return offset;
}

// The index in the section table of the section holding the load configuration's security cookie.
std::size_t SectionIndexOfCookie(const Bytes& stub, const PeImage& image) {
  const std::uint64_t config = FileOffsetOf(image, image.directories[kLoadConfigurationDirectory].virtual_address,
                                            offsetof(LoadConfigurationDirectory64, GuardFlags));
  const std::uint64_t image_base = ReadUint64(&stub[image.optional_header_offset + kOptionalImageBaseOffset]);
  const SectionHeader* section = image.SectionContaining(static_cast<std::uint32_t>(
      ReadUint64(&stub[config + offsetof(LoadConfigurationDirectory64, SecurityCookie)]) - image_base));
  EXPECT_NE(section, nullptr);
  return section == nullptr ? 0 : static_cast<std::size_t>(section - image.sections.data());
}

// Where the extended DLL characteristics the debug directory points at lie in the file.
std::uint64_t FileOffsetOfExDllCharacteristics(const Bytes& stub, const PeImage& image) {
  const DataDirectory debug = image.directories[kDebugDirectory];
  for (std::uint32_t entry = 0; entry + kDebugEntrySize <= debug.size; entry += kDebugEntrySize) {
    const std::uint8_t* fields = &stub[FileOffsetOf(image, debug.virtual_address + entry, kDebugEntrySize)];
    if (ReadUint32(fields + kDebugTypeOffset) == kDebugTypeExDllCharacteristics)
      return FileOffsetOf(image, ReadUint32(fields + kDebugDataAddressOffset), 4);
  }
  ADD_FAILURE() << "no extended DLL characteristics";
  return 0;
}

class ImageHardeningTest : public StubPackingTest {
 protected:
  int PackWith(const Bytes& stub, std::string& messages, Bytes& output) {
    Bytes archive(5000, 'a');
    std::copy(std::begin(k7zSignature), std::end(k7zSignature), archive.begin());
    return StubPackingTest::PackWith(stub, archive, messages, output);
  }
};

TEST_F(ImageHardeningTest, StubAndPackedInstallerCarryAllOfIt) {
  std::string messages;
  Bytes packed;
  ASSERT_EQ(PackWith(stub_, messages, packed), 0) << messages;
  EXPECT_EQ(messages, "") << "the build's own stub lacks nothing";
  for (const Bytes* image : {&stub_, &packed}) {
    const ImageHardening hardening = HardeningOf(*image);
    EXPECT_TRUE(MissingHardening(hardening).empty()) << DescribeHardening(hardening);
    EXPECT_EQ(DescribeHardening(hardening),
              "ASLR yes, high-entropy VA yes, NX yes, CFG yes, CET yes, DependentLoadFlags 0x0800 (system32), "
              "stack cookie yes");
  }
}

TEST_F(ImageHardeningTest, StubLackingSomeIsNamedAndStillPacked) {
  const PeImage image = [&] {
    MemoryByteSource source(stub_);
    PeImage read;
    std::string error;
    EXPECT_TRUE(ReadPeImage(source, read, error)) << error;
    return read;
  }();
  const struct {
    const char* what;
    void (*damage)(Bytes& stub, const PeImage& image);
    const char* warning;
  } cases[] = {
      {"no load configuration",
       [](Bytes& stub, const PeImage& image) {
         std::uint8_t* directory =
             &stub[image.optional_header_offset + kOptionalDataDirectoryOffset + 8 * kLoadConfigurationDirectory];
         WriteUint32(directory, 0);
         WriteUint32(directory + 4, 0);
       },
       "drelix-pack: warning: the stub lacks CFG, DependentLoadFlags system32, stack cookie; the installer is "
       "packed without them\n"},
      {"no NX, no high-entropy VA",
       [](Bytes& stub, const PeImage& image) {
         std::uint8_t* characteristics = &stub[image.optional_header_offset + kOptionalDllCharacteristicsOffset];
         WriteUint16(characteristics, ReadUint16(characteristics) & ~0x0120);
       },
       "drelix-pack: warning: the stub lacks high-entropy VA, NX; the installer is packed without them\n"},
      {"no relocations, the ASLR flag kept",
       [](Bytes& stub, const PeImage& image) {
         WriteUint32(&stub[image.optional_header_offset + kOptionalDataDirectoryOffset +
                           kDataDirectorySize * kBaseRelocationDirectory + kDataDirectorySizeOffset],
                     0);
       },
       "drelix-pack: warning: the stub lacks ASLR, high-entropy VA; the installer is packed without them\n"},
      {"the cookie's section read-only",
       [](Bytes& stub, const PeImage& image) {
         std::uint8_t* characteristics =
             &stub[image.section_table_offset + kSectionHeaderSize * SectionIndexOfCookie(stub, image) +
                   kSectionCharacteristicsOffset];
         WriteUint32(characteristics, ReadUint32(characteristics) & ~kSectionMemoryWrite);
       },
       "drelix-pack: warning: the stub lacks stack cookie; the installer is packed without them\n"},
      {"extended characteristics without the CET bit",
       [](Bytes& stub, const PeImage& image) {
         std::uint8_t* characteristics = &stub[FileOffsetOfExDllCharacteristics(stub, image)];
         WriteUint32(characteristics, ReadUint32(characteristics) & ~kExDllCharacteristicsCetCompatible);
       },
       "drelix-pack: warning: the stub lacks CET; the installer is packed without them\n"},
  };
  for (const auto& c : cases) {
    Bytes stub = stub_;
    c.damage(stub, image);
    std::string messages;
    Bytes packed;
    EXPECT_EQ(PackWith(stub, messages, packed), 0) << c.what;
    EXPECT_EQ(messages, c.warning) << c.what;
    EXPECT_FALSE(packed.empty()) << c.what;
  }
}

}  // namespace
