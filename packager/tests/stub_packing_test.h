// A fixture for tests that pack the real installer without payload (or a stub edited from it) in
// a folder of their own: a small archive and a plain setup program, the output read back whole.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "pack/pack.h"
#include "smallest_program.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A new folder of its own under the temporary folder (mkdtemp), so runs at the same time never
// share one; empty when it could not be made.
inline std::filesystem::path MakeTemporaryDirectory(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  return mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path();
}

class StubPackingTest : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = MakeTemporaryDirectory("drelix_pack_test_");
    ASSERT_FALSE(directory_.empty());
    stub_ = ReadBytes(DRELIX_PACK_TEST_STUB);
    ASSERT_FALSE(stub_.empty());
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::filesystem::path Input(const std::string& name, const Bytes& bytes) {
    WriteBytes(directory_ / name, bytes);
    return directory_ / name;
  }

  // Packs `archive` and a plain setup program with `stub`; returns the exit code, what went to the
  // error stream and the installer's bytes (none when nothing was written).
  int PackWith(const Bytes& stub, const Bytes& archive, std::string& messages, Bytes& output,
               std::optional<std::string> previous_version = std::nullopt) {
    PackOptions options;
    options.archive = Input("archive.bin", archive).string();
    options.setup = Input("setup.bin", SmallestProgramImage()).string();
    options.setup_form = "plain";
    options.stub = Input("stub.exe", stub).string();
    options.output = (directory_ / "out.exe").string();
    options.previous_version = std::move(previous_version);
    std::ostringstream errors;
    const int code = Pack(options, {}, errors);
    messages = errors.str();
    output = std::filesystem::exists(options.output) ? ReadBytes(options.output) : Bytes{};
    return code;
  }

  std::filesystem::path directory_;
  Bytes stub_;
};
