// The hardening a scanner checks, read from the real installer without payload and from an
// installer packed from it (packing moves the relocations and rebuilds the resources, and must keep
// the load configuration and the debug directory where they point), and the warnings for a stub
// that lacks some of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "byte_source.h"
#include "image_hardening.h"
#include "little_endian.h"
#include "pack.h"
#include "pe_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kLoadConfigurationDirectory = 10;
constexpr std::uint32_t kDllCharacteristicsOffset = 70;

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

ImageHardening HardeningOf(const Bytes& bytes) {
  MemoryByteSource source(bytes);
  PeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, image, error)) << error;
  return ReadImageHardening(image, source);
}

class ImageHardeningTest : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("drelix_hardening_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    stub_ = ReadBytes(DRELIX_PACK_TEST_STUB);
    ASSERT_FALSE(stub_.empty());
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  // Packs a small payload with `stub`; returns the exit code, what went to the error stream and the
  // installer's bytes.
  int PackWith(const Bytes& stub, std::string& messages, Bytes& output) {
    const auto write = [&](const char* name, const Bytes& bytes) {
      std::ofstream(directory_ / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      return (directory_ / name).string();
    };
    PackOptions options;
    options.archive = write("archive.bin", Bytes(5000, 'a'));
    options.setup = write("setup.bin", Bytes(100, 's'));
    options.setup_form = "plain";
    options.stub = write("stub.exe", stub);
    options.output = (directory_ / "out.exe").string();
    std::ostringstream errors;
    const int code = Pack(options, {}, errors);
    messages = errors.str();
    output = std::filesystem::exists(options.output) ? ReadBytes(options.output) : Bytes{};
    return code;
  }

  std::filesystem::path directory_;
  Bytes stub_;
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
         std::uint8_t* characteristics = &stub[image.optional_header_offset + kDllCharacteristicsOffset];
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
