// The reader of the setup cabinet: what the tool's writer and gcab write comes back byte for byte,
// and each way a hostile cabinet can go wrong ends in its verdict: refused where the cabinet library
// would fail too, not read where the library might succeed.
#include "cabinet/cabinet_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cabinet/cabinet_format.h"
#include "cabinet/cabinet_writer.h"
#include "encoding/little_endian.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = CabinetExpansion::Result;

// Compressible text with random stretches, so blocks refer back into earlier ones.
Bytes Program(std::size_t size) {
  std::mt19937 generator(7);
  Bytes bytes;
  while (bytes.size() < size) {
    const std::string text = "setup program text " + std::to_string(bytes.size() % 997) + " ";
    bytes.insert(bytes.end(), text.begin(), text.end());
    for (int index = 0; index < 8; ++index) bytes.push_back(static_cast<std::uint8_t>(generator()));
  }
  bytes.resize(size);
  return bytes;
}

Bytes Written(const Bytes& input) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  std::string error;
  EXPECT_TRUE(WriteCabinet(in, input.size(), "setup.exe", 0x5821, 0, out, error)) << error;
  Bytes cabinet(static_cast<std::size_t>(std::ftell(out)));
  std::rewind(out);
  EXPECT_EQ(std::fread(cabinet.data(), 1, cabinet.size(), out), cabinet.size());
  std::fclose(in);
  std::fclose(out);
  return cabinet;
}

CabinetExpansion Expand(const Bytes& cabinet, Bytes& expanded, std::uint64_t limit = kBlockCapacity * 100) {
  expanded.clear();
  MemoryByteSource source(cabinet);
  return ExpandFirstCabinetFile(source, 0, cabinet.size(), limit, [&](std::span<const std::uint8_t> bytes) {
    expanded.insert(expanded.end(), bytes.begin(), bytes.end());
    return true;
  });
}

TEST(CabinetReaderTest, ExpandsWhatTheWriterWrites) {
  for (const std::size_t size : {std::size_t{1}, kBlockCapacity, kBlockCapacity + 1, std::size_t{200000}}) {
    const Bytes program = Program(size);
    Bytes expanded;
    const CabinetExpansion expansion = Expand(Written(program), expanded);
    EXPECT_EQ(expansion.result, Result::kExpanded) << size << ": " << expansion.reason;
    EXPECT_EQ(expansion.file_name, "setup.exe");
    EXPECT_EQ(expansion.file_size, size);
    EXPECT_TRUE(expanded == program) << size;
  }
}

// gcab's MSZIP blocks refer back into the blocks before them; only the first of two files is taken.
TEST(CabinetReaderTest, ExpandsTheFirstFileOfAGcabCabinet) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("drelix_pack_cabinet_reader_" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  const Bytes first = Program(150000);
  std::ofstream(directory / "first.exe", std::ios::binary)
      .write(reinterpret_cast<const char*>(first.data()), static_cast<std::streamsize>(first.size()));
  std::ofstream(directory / "second.txt") << "second file";
  const std::string command = "cd '" + directory.string() + "' && gcab --create --zip two.cab first.exe second.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream file(directory / "two.cab", std::ios::binary);
  const Bytes cabinet{std::istreambuf_iterator<char>(file), {}};
  std::filesystem::remove_all(directory);

  Bytes expanded;
  const CabinetExpansion expansion = Expand(cabinet, expanded);
  EXPECT_EQ(expansion.result, Result::kExpanded) << expansion.reason;
  EXPECT_EQ(expansion.file_name, "first.exe");
  EXPECT_TRUE(expanded == first);
}

TEST(CabinetReaderTest, GivesEachBrokenCabinetItsVerdict) {
  const Bytes good = Written(Program(70000));
  const std::size_t folder = kCabinetHeaderSize;
  const std::size_t file = folder + kFolderEntrySize;
  const std::size_t first_block = file + kFileEntrySize + sizeof "setup.exe";
  const auto with = [&](std::size_t offset, std::vector<std::uint8_t> bytes) {
    Bytes cabinet = good;
    for (std::size_t index = 0; index < bytes.size(); ++index) cabinet.at(offset + index) = bytes[index];
    return cabinet;
  };
  const struct {
    const char* what;
    Bytes cabinet;
    Result result;
    const char* reason;
  } cases[] = {
      {"not a cabinet", with(0, {'M', 'S', 'C', 'G'}), Result::kRefused, "does not begin with \"MSCF\""},
      {"cut in its header", Bytes(good.begin(), good.begin() + 20), Result::kRefused, "shorter than a cabinet header"},
      {"another format version", with(kCabinetVersionMinorOffset, {4}), Result::kNotRead, "format version is 1.4"},
      {"no file", with(kCabinetFileCountOffset, {0, 0}), Result::kRefused, "holds no file"},
      {"file continued from before", with(file + kFileFolderIndexOffset, {0xFD, 0xFF}), Result::kRefused,
       "continues from a previous cabinet"},
      {"file in a missing folder", with(file + kFileFolderIndexOffset, {1, 0}), Result::kRefused,
       "names folder 1 of 1"},
      {"file entry outside", with(kCabinetFilesOffsetOffset, {0xF0, 0xFF, 0xFF, 0}), Result::kRefused,
       "first file entry lies outside"},
      {"LZX", with(folder + kFolderCompressionOffset, {kCompressionTypeLzx, 0x13}), Result::kNotRead,
       "compressed with LZX"},
      {"unknown compression", with(folder + kFolderCompressionOffset, {9, 0}), Result::kRefused, "type 9 is unknown"},
      {"file larger than its folder", with(file, {0xFF, 0xFF, 0x01, 0}), Result::kRefused,
       "its data ends before its first file does"},
      {"data cut short", Bytes(good.begin(), good.end() - 10), Result::kRefused, "a data block lies outside it"},
      {"checksum wrong", with(first_block, {0x12, 0x34, 0x56, 0x78}), Result::kNotRead, "checksum does not match"},
      {"not MSZIP", with(first_block + kDataBlockHeaderSize, {'C', 'X'}), Result::kRefused, "is not valid MSZIP"},
      {"deflate data broken", with(first_block + kDataBlockHeaderSize, {'C', 'K', 0xFF, 0xFF}), Result::kRefused,
       "is not valid MSZIP"},
      {"past the limit", with(file, {0x00, 0x00, 0x01, 0}), Result::kNotRead, "drelix-pack expands"},
  };
  for (const auto& c : cases) {
    Bytes cabinet = c.cabinet;
    // A block whose data was edited gets no checksum, so the edit is what is judged.
    if (c.reason == std::string("is not valid MSZIP")) WriteUint32(cabinet.data() + first_block, 0);
    Bytes expanded;
    const std::uint64_t limit = std::string(c.what) == "past the limit" ? 0xFFFF : kBlockCapacity * 100;
    const CabinetExpansion expansion = Expand(cabinet, expanded, limit);
    EXPECT_EQ(expansion.result, c.result) << c.what << ": " << expansion.reason;
    EXPECT_NE(expansion.reason.find(c.reason), std::string::npos) << c.what << ": " << expansion.reason;
  }
}

// A folder stored without compression, as other tools write it.
TEST(CabinetReaderTest, ExpandsAnUncompressedFolder) {
  const std::string text = "plain setup program";
  Bytes cabinet = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
  AppendUint32(cabinet, 0);  // cbCabinet, not read
  AppendUint32(cabinet, 0);
  AppendUint32(cabinet, kCabinetHeaderSize + kFolderEntrySize);
  AppendUint32(cabinet, 0);
  cabinet.insert(cabinet.end(), {3, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0});
  AppendUint32(cabinet, kCabinetHeaderSize + kFolderEntrySize + kFileEntrySize + 2);
  AppendUint16(cabinet, 1);
  AppendUint16(cabinet, kCompressionTypeNone);
  AppendUint32(cabinet, static_cast<std::uint32_t>(text.size()));
  cabinet.insert(cabinet.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 0});
  AppendUint32(cabinet, 0);  // no checksum
  AppendUint16(cabinet, static_cast<std::uint16_t>(text.size()));
  AppendUint16(cabinet, static_cast<std::uint16_t>(text.size()));
  cabinet.insert(cabinet.end(), text.begin(), text.end());
  Bytes expanded;
  const CabinetExpansion expansion = Expand(cabinet, expanded);
  EXPECT_EQ(expansion.result, Result::kExpanded) << expansion.reason;
  EXPECT_EQ(std::string(expanded.begin(), expanded.end()), text);
}

}  // namespace
