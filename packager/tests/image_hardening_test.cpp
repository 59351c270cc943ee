// The hardening a scanner checks, read from the real installer without payload and from an
// installer packed from it (packing moves the relocations and rebuilds the resources, and must keep
// the load configuration and the debug directory where they point), and the warnings for a stub
// that lacks some of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "byte_source.h"
#include "image_hardening.h"
#include "little_endian.h"
#include "pack.h"
#include "pe_image.h"
#include "setup_program_check.h"
#include "stub_packing_test.h"

namespace {

ImageHardening HardeningOf(const Bytes& bytes) {
  MemoryByteSource source(bytes);
  PeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, image, error)) << error;
  return ReadImageHardening(image, source);
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
              "stack cookie yes, signed no");
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
