// One cabinet, one folder, one file: CFHEADER, CFFOLDER and CFFILE are written first with every
// field known in advance, then one CFDATA block per 32 KiB of input, and last the cabinet's total
// size is patched into the header. Each block is a deflate stream of its own (the compressor is
// reset between blocks), so a decoder that keeps no history from block to block reads it as well
// as one that does.
#include "cabinet/cabinet_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "cabinet/cabinet_format.h"
#include "encoding/little_endian.h"
#include "host/host_file.h"

namespace {

// A stored (uncompressed) deflate block: one byte with BFINAL set and BTYPE 00, then LEN and NLEN.
// MSZIP allows 12 bytes over 32 KiB, so a block that deflate cannot shrink is written stored.
constexpr std::size_t kStoredBlockOverhead = 5;
constexpr std::size_t kMaximumBlockDataSize = sizeof kMszipSignature + kStoredBlockOverhead + kBlockCapacity;
static_assert(kMaximumBlockDataSize <= kBlockCapacity + 12);

constexpr std::uint64_t kMaximumInputSize = std::uint64_t{kMaximumDataBlockCount} * kBlockCapacity;
// With cCFData at its limit, even incompressible input keeps the 32-bit cbCabinet in range, so the
// input size is the only limit to check.
static_assert(kCabinetHeaderSize + kFolderEntrySize + kFileEntrySize + kMaximumNameSize + 1 +
                  kMaximumDataBlockCount * (kDataBlockHeaderSize + kMaximumBlockDataSize) <=
              0xFFFFFFFFu);

// A raw deflate stream (no zlib header) reset before every block. The best compression level:
// a cabinet is written once and downloaded with every installer.
class MszipCompressor {
 public:
  MszipCompressor() noexcept {
    started_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~MszipCompressor() {
    if (started_) {
      deflateEnd(&stream_);
    }
  }
  MszipCompressor(const MszipCompressor&) = delete;
  MszipCompressor& operator=(const MszipCompressor&) = delete;

  bool started() const noexcept { return started_; }

  // Writes one MSZIP block for `piece` into `block_data` (room for kMaximumBlockDataSize bytes)
  // and returns its size, or 0 if zlib fails.
  std::size_t CompressBlock(const std::uint8_t* piece, std::size_t size, std::uint8_t* block_data) noexcept {
    std::memcpy(block_data, kMszipSignature, sizeof kMszipSignature);
    std::uint8_t* deflate_data = block_data + sizeof kMszipSignature;
    if (deflateReset(&stream_) != Z_OK) {
      return 0;
    }
    // Deflate gets only as much room as the stored form needs: running out means it cannot win.
    stream_.next_in = const_cast<std::uint8_t*>(piece);
    stream_.avail_in = static_cast<uInt>(size);
    stream_.next_out = deflate_data;
    stream_.avail_out = static_cast<uInt>(size + kStoredBlockOverhead);
    const int result = deflate(&stream_, Z_FINISH);
    if (result == Z_STREAM_END) {
      return sizeof kMszipSignature + stream_.total_out;
    }
    if (result != Z_OK && result != Z_BUF_ERROR) {
      return 0;
    }
    deflate_data[0] = 0x01;
    WriteUint16(deflate_data + 1, static_cast<std::uint16_t>(size));
    WriteUint16(deflate_data + 3, static_cast<std::uint16_t>(~size));
    std::memcpy(deflate_data + kStoredBlockOverhead, piece, size);
    return sizeof kMszipSignature + kStoredBlockOverhead + size;
  }

 private:
  z_stream stream_ = {};
  bool started_ = false;
};

bool IsAcceptableName(std::string_view name, std::string& error) {
  if (name.empty()) {
    error = "the file name inside the cabinet is empty";
    return false;
  }
  if (name.size() > kMaximumNameSize) {
    error = "the file name inside the cabinet is " + std::to_string(name.size()) +
            " bytes long; a cabinet allows at most 255";
    return false;
  }
  for (const char character : name) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte < 0x20 || byte > 0x7E) {
      error = "the file name inside the cabinet has a byte that is not printable ASCII";
      return false;
    }
  }
  return true;
}

// CFHEADER, the one CFFOLDER and the one CFFILE with its name, cbCabinet still 0.
std::vector<std::uint8_t> DescribeCabinet(std::string_view name, std::uint32_t file_size,
                                          std::uint16_t data_block_count, std::uint16_t dos_date,
                                          std::uint16_t dos_time) {
  const std::size_t file_entry_offset = kCabinetHeaderSize + kFolderEntrySize;
  const std::size_t first_data_block_offset = file_entry_offset + kFileEntrySize + name.size() + 1;
  std::vector<std::uint8_t> bytes(std::begin(kCabinetSignature), std::end(kCabinetSignature));
  AppendUint32(bytes, 0);  // reserved1
  AppendUint32(bytes, 0);  // cbCabinet
  AppendUint32(bytes, 0);  // reserved2
  AppendUint32(bytes, static_cast<std::uint32_t>(file_entry_offset));
  AppendUint32(bytes, 0);  // reserved3
  bytes.push_back(kCabinetVersionMinor);
  bytes.push_back(kCabinetVersionMajor);
  AppendUint16(bytes, 1);  // cFolders
  AppendUint16(bytes, 1);  // cFiles
  AppendUint16(bytes, 0);  // flags: no previous or next cabinet, no reserved fields
  AppendUint16(bytes, 0);  // setID: fixed, so the same input gives the same cabinet
  AppendUint16(bytes, 0);  // iCabinet

  AppendUint32(bytes, static_cast<std::uint32_t>(first_data_block_offset));
  AppendUint16(bytes, data_block_count);
  AppendUint16(bytes, kCompressionTypeMszip);

  AppendUint32(bytes, file_size);
  AppendUint32(bytes, 0);  // uoffFolderStart
  AppendUint16(bytes, 0);  // iFolder
  AppendUint16(bytes, dos_date);
  AppendUint16(bytes, dos_time);
  AppendUint16(bytes, kArchiveAttribute);
  bytes.insert(bytes.end(), name.begin(), name.end());
  bytes.push_back(0);
  return bytes;
}

// One CFDATA record: the header, then `piece` compressed; its size, or 0 when zlib fails.
std::size_t FrameDataBlock(MszipCompressor& compressor, const std::uint8_t* piece, std::size_t piece_size,
                           std::uint8_t* data_block) {
  const std::size_t block_data_size = compressor.CompressBlock(piece, piece_size, data_block + kDataBlockHeaderSize);
  if (block_data_size == 0) return 0;
  WriteUint16(data_block + kDataBlockSizesOffset, static_cast<std::uint16_t>(block_data_size));  // cbData
  WriteUint16(data_block + kDataBlockSizesOffset + 2, static_cast<std::uint16_t>(piece_size));   // cbUncomp
  // csum covers the compressed data first, then cbData and cbUncomp.
  const std::uint32_t checksum = CabinetChecksum(
      data_block + kDataBlockSizesOffset, 4, CabinetChecksum(data_block + kDataBlockHeaderSize, block_data_size, 0));
  WriteUint32(data_block, checksum);
  return kDataBlockHeaderSize + block_data_size;
}

// The input in pieces of one block each, compressed and written; `cabinet_size` grows with each.
bool WriteDataBlocks(std::FILE* input, std::uint64_t input_size, MszipCompressor& compressor, std::FILE* output,
                     std::uint64_t& cabinet_size, std::string& error) {
  std::vector<std::uint8_t> piece(kBlockCapacity);
  std::vector<std::uint8_t> data_block(kDataBlockHeaderSize + kMaximumBlockDataSize);
  for (std::uint64_t bytes_read = 0; bytes_read < input_size;) {
    const std::size_t piece_size =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlockCapacity, input_size - bytes_read));
    const std::size_t piece_read = std::fread(piece.data(), 1, piece_size, input);
    bytes_read += piece_read;
    if (piece_read != piece_size) {
      error = std::ferror(input) ? "reading the input failed after " + std::to_string(bytes_read) + " of " +
                                       std::to_string(input_size) + " bytes: " + SystemReason()
                                 : "the input ended after " + std::to_string(bytes_read) + " of " +
                                       std::to_string(input_size) + " bytes";
      return false;
    }
    const std::size_t record_size = FrameDataBlock(compressor, piece.data(), piece_size, data_block.data());
    if (record_size == 0) {
      error = "zlib failed to compress a block";
      return false;
    }
    if (std::fwrite(data_block.data(), 1, record_size, output) != record_size) {
      error = "writing the cabinet failed: " + SystemReason();
      return false;
    }
    cabinet_size += record_size;
  }
  return true;
}

// cbCabinet, known only now; the output is left at the cabinet's end. Seeking flushes what is
// buffered, so the last seek also reports a write that failed late.
bool PatchCabinetSize(std::FILE* output, std::uint64_t cabinet_start, std::uint64_t cabinet_size, std::string& error) {
  std::uint8_t cabinet_size_field[4];
  WriteUint32(cabinet_size_field, static_cast<std::uint32_t>(cabinet_size));
  if (!SeekFile(output, cabinet_start + kCabinetSizeFieldOffset) ||
      std::fwrite(cabinet_size_field, 1, sizeof cabinet_size_field, output) != sizeof cabinet_size_field ||
      !SeekFile(output, cabinet_start + cabinet_size)) {
    error = "writing the cabinet failed: " + SystemReason();
    return false;
  }
  return true;
}

}  // namespace

bool WriteCabinet(std::FILE* input, std::uint64_t input_size, std::string_view inner_name, std::uint16_t dos_date,
                  std::uint16_t dos_time, std::FILE* output, std::string& error) {
  if (!IsAcceptableName(inner_name, error)) {
    return false;
  }
  if (input_size > kMaximumInputSize) {
    error = "the input is " + std::to_string(input_size) + " bytes; a cabinet folder holds at most " +
            std::to_string(kMaximumInputSize);
    return false;
  }
  const std::optional<std::uint64_t> cabinet_start = PositionInFile(output);
  if (!cabinet_start) {
    error = "the output position cannot be read (the output must be a seekable file): " + SystemReason();
    return false;
  }
  MszipCompressor compressor;
  if (!compressor.started()) {
    error = "zlib could not start a deflate stream";
    return false;
  }

  const auto data_block_count = static_cast<std::uint16_t>((input_size + kBlockCapacity - 1) / kBlockCapacity);
  const std::vector<std::uint8_t> description =
      DescribeCabinet(inner_name, static_cast<std::uint32_t>(input_size), data_block_count, dos_date, dos_time);
  if (std::fwrite(description.data(), 1, description.size(), output) != description.size()) {
    error = "writing the cabinet failed: " + SystemReason();
    return false;
  }

  std::uint64_t cabinet_size = description.size();
  return WriteDataBlocks(input, input_size, compressor, output, cabinet_size, error) &&
         PatchCabinetSize(output, *cabinet_start, cabinet_size, error);
}
