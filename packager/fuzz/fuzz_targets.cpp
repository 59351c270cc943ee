#include "fuzz_targets.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "byte_source.h"
#include "cabinet_reader.h"
#include "installer_report.h"
#include "pack.h"
#include "tests/smallest_program.h"
#include "version_block.h"

namespace {

// A folder with the inputs, made once per process and removed at its end.
class PackingFolder {
 public:
  PackingFolder() {
    std::error_code ignored;
    path_ = std::filesystem::temp_directory_path() / ("drelix-pack-fuzz-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
    std::ofstream(path_ / "archive.7z") << "archive";
    const std::vector<std::uint8_t> setup = SmallestProgramImage();
    std::ofstream(path_ / "setup.exe", std::ios::binary)
        .write(reinterpret_cast<const char*>(setup.data()), static_cast<std::streamsize>(setup.size()));
  }
  ~PackingFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  PackingFolder(const PackingFolder&) = delete;
  PackingFolder& operator=(const PackingFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

int InspectBytes(std::span<const std::uint8_t> bytes) {
  MemoryByteSource source(bytes);
  std::ostringstream out;
  std::ostringstream errors;
  return ReportInstaller(source, "fuzzed.exe", out, errors);
}

int PackWithStub(std::span<const std::uint8_t> bytes) {
  static const PackingFolder folder;
  PackOptions options;
  options.archive = (folder.Path() / "archive.7z").string();
  options.setup = (folder.Path() / "setup.exe").string();
  options.setup_form = "plain";
  options.output = (folder.Path() / "installer.exe").string();
  std::ostringstream errors;
  return Pack(options, bytes, errors);
}

int ReadVersionBlockBytes(std::span<const std::uint8_t> bytes) {
  VersionBlock block;
  std::string error;
  if (!ReadVersionBlock(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), block, error)) return 0;
  std::vector<std::uint8_t> written;
  if (!VersionBlockBytes(block, written, error)) return 1;
  VersionBlock again;
  if (!ReadVersionBlock(written, again, error) || !(again == block)) std::abort();
  return 1;
}

int ExpandCabinetBytes(std::span<const std::uint8_t> bytes) {
  constexpr std::uint64_t kLargestFuzzedExpansion = 16 << 20;
  MemoryByteSource source(bytes);
  std::uint64_t handed_on = 0;
  const CabinetExpansion expansion = ExpandFirstCabinetFile(source, 0, bytes.size(), kLargestFuzzedExpansion,
                                                            [&](std::span<const std::uint8_t> piece) {
                                                              handed_on += piece.size();
                                                              return true;
                                                            });
  if (expansion.result == CabinetExpansion::Result::kExpanded && handed_on != expansion.file_size) std::abort();
  return static_cast<int>(expansion.result);
}
