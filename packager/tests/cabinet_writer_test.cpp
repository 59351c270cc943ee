// Cabinets checked two ways: by cabextract (its test, its listing and its extraction, which also
// verify every block's checksum), and by a reading of our own that checks what cabextract lets
// pass: the header fields, MSZIP's 32 KiB + 12 byte limit on a block, and that every block
// inflates on its own, without the history of the blocks before it.
#include "cabinet/cabinet_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kDosDate = ((2024 - 1980) << 9) | (3 << 5) | 10;  // 10 March 2024
constexpr std::uint16_t kDosTime = (14 << 11) | (30 << 5) | (8 / 2);      // 14:30:08
constexpr char kListedDateTime[] = "10.03.2024 14:30:08";
constexpr char kInnerName[] = "setup.exe";
constexpr std::size_t kBlockCapacity = 32768;

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(generator());
  }
  return bytes;
}

Bytes ReadFileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// A file holding `bytes`, positioned at its start, for WriteCabinet to read.
std::FILE* InputHolding(const Bytes& bytes) {
  std::FILE* file = std::tmpfile();
  if (file != nullptr && !bytes.empty()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
  }
  return file;
}

struct CommandResult {
  int exit_status;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult result = {-1, {}};
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  char buffer[4096];
  for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, read);
  }
  const int status = pclose(pipe);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string FindCabextract() {
  const char* search_path = std::getenv("PATH");
  std::string directories = search_path ? search_path : "";
  for (std::size_t start = 0; start <= directories.size();) {
    const std::size_t end = std::min(directories.find(':', start), directories.size());
    const fs::path candidate = fs::path(directories.substr(start, end - start)) / "cabextract";
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
    start = end + 1;
  }
  return {};
}

std::uint32_t ReadUint(const Bytes& bytes, std::size_t offset, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8) | bytes.at(offset + static_cast<std::size_t>(i));
  }
  return value;
}

struct CabinetContents {
  std::string name;
  std::uint16_t dos_date = 0;
  std::uint16_t dos_time = 0;
  Bytes data;
};

// Reads a one-file MSZIP cabinet as a decoder that keeps no history between blocks would.
void ReadCabinet(const Bytes& cabinet, CabinetContents& contents) {
  ASSERT_GE(cabinet.size(), 60u);
  EXPECT_EQ(std::string(cabinet.begin(), cabinet.begin() + 4), "MSCF");
  EXPECT_EQ(ReadUint(cabinet, 8, 4), cabinet.size()) << "cbCabinet";
  EXPECT_EQ(ReadUint(cabinet, 16, 4), 44u) << "coffFiles";
  EXPECT_EQ(ReadUint(cabinet, 24, 2), 0x0103u) << "version";
  EXPECT_EQ(ReadUint(cabinet, 26, 4), 0x00010001u) << "cFolders, cFiles";
  EXPECT_EQ(ReadUint(cabinet, 30, 2), 0u) << "flags";

  const std::uint32_t file_size = ReadUint(cabinet, 44, 4);
  EXPECT_EQ(ReadUint(cabinet, 48, 4), 0u) << "uoffFolderStart";
  EXPECT_EQ(ReadUint(cabinet, 52, 2), 0u) << "iFolder";
  contents.dos_date = static_cast<std::uint16_t>(ReadUint(cabinet, 54, 2));
  contents.dos_time = static_cast<std::uint16_t>(ReadUint(cabinet, 56, 2));
  EXPECT_EQ(ReadUint(cabinet, 58, 2), 0x20u) << "attribs";
  const auto name_end = std::find(cabinet.begin() + 60, cabinet.end(), 0);
  ASSERT_NE(name_end, cabinet.end());
  contents.name.assign(cabinet.begin() + 60, name_end);

  std::size_t offset = ReadUint(cabinet, 36, 4);
  EXPECT_EQ(offset, static_cast<std::size_t>(name_end - cabinet.begin()) + 1) << "coffCabStart";
  const std::uint32_t block_count = ReadUint(cabinet, 40, 2);
  EXPECT_EQ(block_count, (file_size + kBlockCapacity - 1) / kBlockCapacity) << "cCFData";
  EXPECT_EQ(ReadUint(cabinet, 42, 2), 1u) << "typeCompress";

  for (std::uint32_t block = 0; block < block_count; ++block) {
    SCOPED_TRACE("block " + std::to_string(block));
    const std::uint32_t block_data_size = ReadUint(cabinet, offset + 4, 2);
    const std::uint32_t block_uncompressed_size = ReadUint(cabinet, offset + 6, 2);
    EXPECT_EQ(block_uncompressed_size, std::min<std::size_t>(kBlockCapacity, file_size - contents.data.size()));
    ASSERT_LE(block_data_size, kBlockCapacity + 12);
    ASSERT_LE(offset + 8 + block_data_size, cabinet.size());
    ASSERT_EQ(cabinet[offset + 8], 'C');
    ASSERT_EQ(cabinet[offset + 9], 'K');

    z_stream stream = {};
    ASSERT_EQ(inflateInit2(&stream, -MAX_WBITS), Z_OK);
    Bytes piece(kBlockCapacity + 1);
    stream.next_in = const_cast<std::uint8_t*>(cabinet.data() + offset + 10);
    stream.avail_in = block_data_size - 2;
    stream.next_out = piece.data();
    stream.avail_out = static_cast<uInt>(piece.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    ASSERT_EQ(result, Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u) << "bytes after the final deflate block";
    ASSERT_EQ(stream.total_out, block_uncompressed_size);
    contents.data.insert(contents.data.end(), piece.begin(), piece.begin() + block_uncompressed_size);
    offset += 8 + block_data_size;
  }
  EXPECT_EQ(offset, cabinet.size()) << "bytes after the last block";
  EXPECT_EQ(contents.data.size(), file_size) << "cbFile";
}

class CabinetWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cabinet_writer_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }

  // Writes `leading` bytes, then the cabinet for `content` named `name`, then `trailing` bytes
  // into `path`.
  bool WriteCabinetFile(const fs::path& path, const Bytes& content, std::string& error, const Bytes& leading = {},
                        const Bytes& trailing = {}, const std::string& name = kInnerName) {
    std::FILE* input = InputHolding(content);
    std::FILE* output = std::fopen(path.c_str(), "wb");
    if (!leading.empty()) std::fwrite(leading.data(), 1, leading.size(), output);
    const bool written = WriteCabinet(input, content.size(), name, kDosDate, kDosTime, output, error);
    if (!trailing.empty()) std::fwrite(trailing.data(), 1, trailing.size(), output);
    std::fclose(output);
    std::fclose(input);
    return written;
  }

  fs::path directory_;
};

struct ContentCase {
  const char* label;
  std::size_t size;
  bool random;  // random bytes are incompressible; the others are zeros
};

class CabinetContentTest : public CabinetWriterTest, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(CabinetContentTest, CabextractAndAnIndependentReadingGetTheExactBytes) {
  const std::string cabextract = FindCabextract();
  ASSERT_FALSE(cabextract.empty()) << "cabextract is not on PATH; scripts/install-packages.sh installs it";
  const Bytes content = GetParam().random ? RandomBytes(GetParam().size, 7) : Bytes(GetParam().size);
  const fs::path cabinet_path = directory_ / "setup.cab";
  std::string error;
  ASSERT_TRUE(WriteCabinetFile(cabinet_path, content, error)) << error;
  const Bytes cabinet = ReadFileBytes(cabinet_path);

  CabinetContents contents;
  ReadCabinet(cabinet, contents);
  EXPECT_EQ(contents.name, kInnerName);
  EXPECT_EQ(contents.dos_date, kDosDate);
  EXPECT_EQ(contents.dos_time, kDosTime);
  EXPECT_TRUE(contents.data == content) << "the blocks, inflated one by one, differ from the input";

  const CommandResult test = RunCommand(cabextract + " -t " + cabinet_path.string());
  EXPECT_EQ(test.exit_status, 0) << test.output;
  const CommandResult listing = RunCommand(cabextract + " -l " + cabinet_path.string());
  EXPECT_EQ(listing.exit_status, 0) << listing.output;
  char listed_file[128];
  std::snprintf(listed_file, sizeof listed_file, "\n%10zu | %s | %s\n", content.size(), kListedDateTime, kInnerName);
  EXPECT_NE(listing.output.find(listed_file), std::string::npos) << listing.output;
  EXPECT_NE(listing.output.find("\n\nAll done, no errors."), std::string::npos) << listing.output;

  const fs::path extracted = directory_ / "extracted";
  const CommandResult extraction =
      RunCommand(cabextract + " -q -d " + extracted.string() + " " + cabinet_path.string());
  EXPECT_EQ(extraction.exit_status, 0) << extraction.output;
  EXPECT_EQ(std::distance(fs::directory_iterator(extracted), fs::directory_iterator()), 1);
  EXPECT_TRUE(ReadFileBytes(extracted / kInnerName) == content) << "cabextract extracted other bytes";

  ASSERT_TRUE(WriteCabinetFile(directory_ / "again.cab", content, error)) << error;
  EXPECT_TRUE(ReadFileBytes(directory_ / "again.cab") == cabinet) << "the same input gave another cabinet";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CabinetContentTest,
    ::testing::Values(ContentCase{"Empty", 0, false}, ContentCase{"OneByte", 1, true},
                      ContentCase{"OneByteShortOfABlock", 32767, true}, ContentCase{"ExactlyOneBlock", 32768, true},
                      ContentCase{"OneByteOverABlock", 32769, true}, ContentCase{"Random100000", 100000, true},
                      ContentCase{"Zeros5MiB", 5 << 20, false}, ContentCase{"Random3MiB", 3 << 20, true}),
    [](const ::testing::TestParamInfo<ContentCase>& info) { return std::string(info.param.label); });

TEST_F(CabinetWriterTest, CabinetAfterLeadingBytesIsTheSameCabinetAndEndsWhereItsCallerGoesOn) {
  const Bytes content = RandomBytes(100000, 11);
  const Bytes leading = RandomBytes(777, 12);
  const Bytes trailing = RandomBytes(99, 13);
  std::string error;
  ASSERT_TRUE(WriteCabinetFile(directory_ / "alone.cab", content, error)) << error;
  ASSERT_TRUE(WriteCabinetFile(directory_ / "image.bin", content, error, leading, trailing)) << error;

  Bytes expected = leading;
  const Bytes alone = ReadFileBytes(directory_ / "alone.cab");
  expected.insert(expected.end(), alone.begin(), alone.end());
  expected.insert(expected.end(), trailing.begin(), trailing.end());
  EXPECT_TRUE(ReadFileBytes(directory_ / "image.bin") == expected);
}

// The checksum is the only guard of a stored (incompressible) block's bytes, so cabextract
// refusing one changed byte shows that it checks checksums, and the passing cases show that ours
// are right.
TEST_F(CabinetWriterTest, CabextractRefusesAChangedByteInAStoredBlock) {
  const std::string cabextract = FindCabextract();
  ASSERT_FALSE(cabextract.empty()) << "cabextract is not on PATH; scripts/install-packages.sh installs it";
  const fs::path cabinet_path = directory_ / "setup.cab";
  std::string error;
  ASSERT_TRUE(WriteCabinetFile(cabinet_path, RandomBytes(100000, 17), error)) << error;
  Bytes cabinet = ReadFileBytes(cabinet_path);
  cabinet[cabinet.size() / 2] ^= 0x01;
  std::ofstream(cabinet_path, std::ios::binary)
      .write(reinterpret_cast<const char*>(cabinet.data()), static_cast<std::streamsize>(cabinet.size()));

  const CommandResult test = RunCommand(cabextract + " -t " + cabinet_path.string());
  EXPECT_NE(test.exit_status, 0) << test.output;
  EXPECT_NE(test.output.find("checksum error"), std::string::npos) << test.output;
}

TEST_F(CabinetWriterTest, NamesUpTo255PrintableAsciiBytesAreKept) {
  for (const std::string& name : {std::string("a"), std::string("Setup Files\\~setup_1.EXE"), std::string(255, 'n')}) {
    SCOPED_TRACE(name);
    std::string error;
    ASSERT_TRUE(WriteCabinetFile(directory_ / "setup.cab", Bytes(10), error, {}, {}, name)) << error;
    CabinetContents contents;
    ReadCabinet(ReadFileBytes(directory_ / "setup.cab"), contents);
    EXPECT_EQ(contents.name, name);
  }
}

TEST_F(CabinetWriterTest, RefusedNamesAndSizesWriteNothing) {
  const std::string long_name(256, 'n');
  const struct {
    std::string_view name;
    std::uint64_t input_size;
    std::string_view reason;
  } cases[] = {
      {"", 1, "empty"},
      {long_name, 1, "256 bytes long"},
      {"s\xC3\xA9tup.exe", 1, "not printable ASCII"},
      {std::string_view("set\0up.exe", 10), 1, "not printable ASCII"},
      {"setup\t.exe", 1, "not printable ASCII"},
      {"setup.exe", 65535ull * 32768 + 1, "at most 2147450880"},
      {"setup.exe", 1ull << 32, "at most 2147450880"},
  };
  for (const auto& refusal : cases) {
    SCOPED_TRACE(std::string(refusal.name.substr(0, 16)) + " " + std::to_string(refusal.input_size));
    std::FILE* input = InputHolding(Bytes(10));
    std::FILE* output = std::tmpfile();
    std::string error;
    EXPECT_FALSE(WriteCabinet(input, refusal.input_size, refusal.name, kDosDate, kDosTime, output, error));
    EXPECT_NE(error.find(refusal.reason), std::string::npos) << error;
    EXPECT_EQ(std::ftell(output), 0);
    std::fclose(output);
    std::fclose(input);
  }
}

TEST_F(CabinetWriterTest, ReadFailuresAreReported) {
  std::FILE* short_input = InputHolding(RandomBytes(40000, 19));
  std::FILE* unreadable_input = std::fopen((directory_ / "write-only").c_str(), "wb");
  const struct {
    const char* label;
    std::FILE* input;
    std::string_view reason;
  } cases[] = {
      {"short", short_input, "the input ended after 40000 of 50000 bytes"},
      {"unreadable", unreadable_input, "reading the input failed after 0 of 50000 bytes: "},
  };
  for (const auto& failure : cases) {
    SCOPED_TRACE(failure.label);
    std::FILE* output = std::tmpfile();
    std::string error;
    EXPECT_FALSE(WriteCabinet(failure.input, 50000, kInnerName, kDosDate, kDosTime, output, error));
    EXPECT_NE(error.find(failure.reason), std::string::npos) << error;
    std::fclose(output);
    std::fclose(failure.input);
  }
}

// A full device fails the writes (the last of them only when the header is patched, since the
// stream buffers them), and a pipe cannot take the header patch at all.
TEST_F(CabinetWriterTest, WriteFailuresAreReported) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  std::FILE* pipe_output = fdopen(pipe_ends[1], "wb");
  const struct {
    const char* label;
    std::FILE* output;
    std::size_t input_size;
    std::string_view reason;
  } cases[] = {
      {"full device, one buffered block", std::fopen("/dev/full", "wb"), 10,
       "writing the cabinet failed: No space left on device"},
      {"full device, many blocks", std::fopen("/dev/full", "wb"), 300000,
       "writing the cabinet failed: No space left on device"},
      {"pipe", pipe_output, 10, "the output must be a seekable file"},
  };
  for (const auto& failure : cases) {
    SCOPED_TRACE(failure.label);
    ASSERT_NE(failure.output, nullptr);
    std::FILE* input = InputHolding(RandomBytes(failure.input_size, 23));
    std::string error;
    EXPECT_FALSE(WriteCabinet(input, failure.input_size, kInnerName, kDosDate, kDosTime, failure.output, error));
    EXPECT_NE(error.find(failure.reason), std::string::npos) << error;
    std::fclose(input);
    std::fclose(failure.output);
  }
  close(pipe_ends[0]);
}

}  // namespace
