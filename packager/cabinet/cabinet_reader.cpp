#include "cabinet/cabinet_reader.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "cabinet/cabinet_format.h"
#include "encoding/little_endian.h"

namespace {

using Result = CabinetExpansion::Result;

// A raw inflate stream that, as MSZIP asks, starts every block afresh but with the folder's last
// 32 KiB of expanded bytes as its dictionary.
class MszipExpander {
 public:
  MszipExpander() noexcept { started_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  ~MszipExpander() {
    if (started_) inflateEnd(&stream_);
  }
  MszipExpander(const MszipExpander&) = delete;
  MszipExpander& operator=(const MszipExpander&) = delete;

  bool started() const noexcept { return started_; }

  // Expands one block's deflate data into `out`, which must come out exactly full.
  bool ExpandBlock(std::span<const std::uint8_t> data, std::span<std::uint8_t> out) noexcept {
    if (inflateReset(&stream_) != Z_OK) return false;
    if (!history_.empty() &&
        inflateSetDictionary(&stream_, history_.data(), static_cast<uInt>(history_.size())) != Z_OK) {
      return false;
    }
    stream_.next_in = const_cast<std::uint8_t*>(data.data());
    stream_.avail_in = static_cast<uInt>(data.size());
    stream_.next_out = out.data();
    stream_.avail_out = static_cast<uInt>(out.size());
    if (inflate(&stream_, Z_FINISH) != Z_STREAM_END || stream_.avail_out != 0) return false;
    history_.insert(history_.end(), out.begin(), out.end());
    if (history_.size() > kBlockCapacity) {
      history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(kBlockCapacity));
    }
    return true;
  }

 private:
  z_stream stream_ = {};
  bool started_ = false;
  std::vector<std::uint8_t> history_;
};

// Reads within the cabinet only.
class CabinetBytes {
 public:
  CabinetBytes(ByteSource& source, std::uint64_t offset, std::uint64_t size)
      : source_(source), offset_(offset), size_(size) {}

  bool Read(std::uint64_t position, std::span<std::uint8_t> destination) {
    return position <= size_ && destination.size() <= size_ - position &&
           source_.Read(offset_ + position, destination.data(), destination.size());
  }
  // A NUL-terminated name of at most `longest` bytes at `position`; false when it has no NUL in time.
  bool ReadName(std::uint64_t position, std::size_t longest, std::string& name) {
    name.clear();
    for (std::uint8_t byte = 0; name.size() <= longest; name += static_cast<char>(byte)) {
      if (!Read(position + name.size(), {&byte, 1})) return false;
      if (byte == 0) return true;
    }
    return false;
  }

 private:
  ByteSource& source_;
  std::uint64_t offset_;
  std::uint64_t size_;
};

// The cabinet read in the order its bytes lead: the header, the first file's entry, its folder's
// entry, then the folder's data blocks. Each step checks what it reads before the next uses it;
// the first that fails says why in `stop_`.
class FirstFileExpander {
 public:
  FirstFileExpander(ByteSource& source, std::uint64_t offset, std::uint64_t size) : cabinet_(source, offset, size) {}

  bool ReadHeader();
  bool ReadFirstFileEntry(std::uint64_t largest_expansion);
  bool ReadFolderEntry();
  bool ExpandFile(const CabinetOutput& output);

  CabinetExpansion Stopped() { return std::move(stop_); }
  CabinetExpansion Expanded() { return {Result::kExpanded, {}, std::move(file_name_), file_size_}; }

 private:
  bool Stop(Result result, std::string reason) {
    stop_ = {result, std::move(reason), {}, 0};
    return false;
  }
  bool ExpandBlock(std::uint32_t block, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& out);

  CabinetBytes cabinet_;
  CabinetExpansion stop_;
  // From the header.
  std::uint16_t flags_ = 0;
  std::uint16_t folder_count_ = 0;
  std::uint64_t files_offset_ = 0;
  std::uint64_t folders_position_ = 0;  // where the folder entries begin, after the header's variable part
  std::size_t folder_reserve_ = 0;
  std::size_t data_reserve_ = 0;
  // From the first file's entry.
  std::string file_name_;
  std::uint32_t file_size_ = 0;
  std::uint64_t folder_start_ = 0;  // the file's offset in its folder's expanded bytes
  std::uint16_t folder_ = 0;
  // From its folder's entry.
  std::uint16_t compression_ = 0;
  std::uint16_t block_count_ = 0;
  std::uint64_t block_position_ = 0;
  MszipExpander expander_;
};

bool FirstFileExpander::ReadHeader() {
  std::uint8_t header[kCabinetHeaderSize + kCabinetReserveSizesSize] = {};
  if (!cabinet_.Read(0, {header, kCabinetHeaderSize}))
    return Stop(Result::kRefused, "it is shorter than a cabinet header");
  if (!std::equal(std::begin(kCabinetSignature), std::end(kCabinetSignature), header)) {
    return Stop(Result::kRefused, "it does not begin with \"MSCF\"");
  }
  if (header[kCabinetVersionMajorOffset] != kCabinetVersionMajor ||
      header[kCabinetVersionMinorOffset] != kCabinetVersionMinor) {
    return Stop(Result::kNotRead, "its format version is " + std::to_string(header[kCabinetVersionMajorOffset]) + "." +
                                      std::to_string(header[kCabinetVersionMinorOffset]) + ", not 1.3");
  }
  flags_ = ReadUint16(header + kCabinetFlagsOffset);
  folder_count_ = ReadUint16(header + kCabinetFolderCountOffset);
  const std::uint16_t file_count = ReadUint16(header + kCabinetFileCountOffset);
  files_offset_ = ReadUint32(header + kCabinetFilesOffsetOffset);
  folders_position_ = kCabinetHeaderSize;
  if (flags_ & kCabinetReservePresent) {
    if (!cabinet_.Read(folders_position_, {header + kCabinetHeaderSize, kCabinetReserveSizesSize})) {
      return Stop(Result::kRefused, "it ends within its header");
    }
    folders_position_ += kCabinetReserveSizesSize + ReadUint16(header + kCabinetHeaderSize);
    folder_reserve_ = header[kCabinetHeaderSize + 2];
    data_reserve_ = header[kCabinetHeaderSize + 3];
  }
  // The names of the previous and next cabinet and of their disks.
  const int neighbour_names = ((flags_ & kCabinetHasPrevious) ? 2 : 0) + ((flags_ & kCabinetHasNext) ? 2 : 0);
  for (int index = 0; index < neighbour_names; ++index) {
    std::string name;
    if (!cabinet_.ReadName(folders_position_, kCabinetLongestName, name)) {
      return Stop(Result::kRefused, "a neighbouring cabinet's name in its header is not terminated in time");
    }
    folders_position_ += name.size() + 1;
  }
  if (folder_count_ == 0 || file_count == 0) return Stop(Result::kRefused, "it holds no file");
  return true;
}

bool FirstFileExpander::ReadFirstFileEntry(std::uint64_t largest_expansion) {
  std::uint8_t file_entry[kFileEntrySize];
  if (!cabinet_.Read(files_offset_, file_entry) ||
      !cabinet_.ReadName(files_offset_ + kFileEntrySize, kMaximumNameSize, file_name_)) {
    return Stop(Result::kRefused, "its first file entry lies outside it or its name is not terminated in time");
  }
  file_size_ = ReadUint32(file_entry);
  folder_start_ = ReadUint32(file_entry + kFileFolderStartOffset);
  const std::uint16_t folder_index = ReadUint16(file_entry + kFileFolderIndexOffset);
  if (folder_index == kFolderContinuedFromPrevious || folder_index == kFolderContinuedBoth) {
    return Stop(Result::kRefused, "its first file continues from a previous cabinet");
  }
  folder_ = folder_index == kFolderContinuedToNext ? folder_count_ - 1 : folder_index;
  if (folder_ >= folder_count_) {
    return Stop(Result::kRefused,
                "its first file names folder " + std::to_string(folder_) + " of " + std::to_string(folder_count_));
  }
  if (folder_start_ + file_size_ > largest_expansion) {
    return Stop(Result::kNotRead, "expanding its first file takes " + std::to_string(folder_start_ + file_size_) +
                                      " bytes, more than the " + std::to_string(largest_expansion) +
                                      " drelix-pack expands");
  }
  return true;
}

bool FirstFileExpander::ReadFolderEntry() {
  std::uint8_t folder_entry[kFolderEntrySize];
  if (!cabinet_.Read(folders_position_ + folder_ * (kFolderEntrySize + folder_reserve_), folder_entry)) {
    return Stop(Result::kRefused, "its folder entry lies outside it");
  }
  compression_ = ReadUint16(folder_entry + kFolderCompressionOffset) & kCompressionMask;
  if (compression_ == kCompressionTypeLzx || compression_ == kCompressionTypeQuantum) {
    return Stop(Result::kNotRead, std::string("its first file is compressed with ") +
                                      (compression_ == kCompressionTypeLzx ? "LZX" : "Quantum") +
                                      ", which drelix-pack does not expand");
  }
  if (compression_ != kCompressionTypeNone && compression_ != kCompressionTypeMszip) {
    return Stop(Result::kRefused, "its first file's compression type " + std::to_string(compression_) + " is unknown");
  }
  if (!expander_.started()) return Stop(Result::kNotRead, "zlib could not start an inflate stream");
  block_count_ = ReadUint16(folder_entry + kFolderDataBlockCountOffset);
  block_position_ = ReadUint32(folder_entry);
  return true;
}

// Reads data block `block` at the current position and expands it into `out`.
bool FirstFileExpander::ExpandBlock(std::uint32_t block, std::vector<std::uint8_t>& data,
                                    std::vector<std::uint8_t>& out) {
  std::uint8_t block_header[kDataBlockHeaderSize];
  if (!cabinet_.Read(block_position_, block_header)) return Stop(Result::kRefused, "a data block lies outside it");
  const std::uint16_t data_size = ReadUint16(block_header + kDataBlockSizesOffset);
  const std::uint16_t expanded_size = ReadUint16(block_header + kDataBlockSizesOffset + 2);
  data.resize(data_size);
  block_position_ += kDataBlockHeaderSize + data_reserve_;
  if (!cabinet_.Read(block_position_, data)) return Stop(Result::kRefused, "a data block lies outside it");
  block_position_ += data_size;
  const std::uint32_t stored_checksum = ReadUint32(block_header);
  if (stored_checksum != 0 && stored_checksum != CabinetChecksum(block_header + kDataBlockSizesOffset, 4,
                                                                 CabinetChecksum(data.data(), data.size(), 0))) {
    return Stop(Result::kNotRead, "data block " + std::to_string(block) + "'s checksum does not match its data");
  }
  if (expanded_size == 0) return Stop(Result::kRefused, "its first file continues into a next cabinet");
  if (expanded_size > kBlockCapacity) {
    return Stop(Result::kRefused, "data block " + std::to_string(block) + " expands to more than 32 KiB");
  }
  out.resize(expanded_size);
  if (compression_ == kCompressionTypeNone) {
    if (data_size != expanded_size) {
      return Stop(Result::kRefused, "uncompressed data block " + std::to_string(block) + " has two sizes");
    }
    out = data;
  } else if (data_size < sizeof kMszipSignature ||
             !std::equal(std::begin(kMszipSignature), std::end(kMszipSignature), data.begin()) ||
             !expander_.ExpandBlock(std::span(data).subspan(sizeof kMszipSignature), out)) {
    return Stop(Result::kRefused, "data block " + std::to_string(block) + " is not valid MSZIP");
  }
  return true;
}

// The folder's blocks in order, until the file's bytes have all been handed on.
bool FirstFileExpander::ExpandFile(const CabinetOutput& output) {
  const std::uint64_t file_end = folder_start_ + file_size_;
  std::uint64_t expanded = 0;  // bytes of the folder expanded so far
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> out;
  for (std::uint32_t block = 0; block < block_count_ && expanded < file_end; ++block) {
    if (!ExpandBlock(block, data, out)) return false;
    // The part of this block that belongs to the file.
    const std::uint64_t block_end = expanded + out.size();
    if (block_end > folder_start_) {
      const std::uint64_t from = std::max(folder_start_, expanded) - expanded;
      const std::uint64_t to = std::min(file_end, block_end) - expanded;
      if (!output(std::span<const std::uint8_t>(out).subspan(from, to - from))) {
        return Stop(Result::kOutputFailed, "the expanded file could not be written");
      }
    }
    expanded = block_end;
  }
  if (expanded < file_end) {
    return Stop(Result::kRefused, (flags_ & kCabinetHasNext) ? "its first file continues into a next cabinet"
                                                             : "its data ends before its first file does");
  }
  return true;
}

}  // namespace

CabinetExpansion ExpandFirstCabinetFile(ByteSource& source, std::uint64_t offset, std::uint64_t size,
                                        std::uint64_t largest_expansion, const CabinetOutput& output) {
  FirstFileExpander cabinet(source, offset, size);
  if (!cabinet.ReadHeader() || !cabinet.ReadFirstFileEntry(largest_expansion) || !cabinet.ReadFolderEntry() ||
      !cabinet.ExpandFile(output)) {
    return cabinet.Stopped();
  }
  return cabinet.Expanded();
}
