// SHA-256 against the FIPS 180-4 examples, and against coreutils' sha256sum at the lengths where
// the padding spills into an extra block, fed whole and in uneven pieces.
#include "sha256.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string DigestOf(std::string_view message) {
  Sha256 hash;
  hash.Update(message.data(), message.size());
  return HexDigest(hash.Finish());
}

// Feeds `message` in pieces whose sizes cycle through `piece_sizes`.
std::string DigestInPieces(std::string_view message, const std::vector<std::size_t>& piece_sizes) {
  Sha256 hash;
  for (std::size_t offset = 0, turn = 0; offset < message.size(); ++turn) {
    const std::size_t size = std::min(piece_sizes[turn % piece_sizes.size()], message.size() - offset);
    hash.Update(message.data() + offset, size);
    offset += size;
  }
  return HexDigest(hash.Finish());
}

std::string Sha256sumOf(const std::string& message) {
  std::string path = (std::filesystem::temp_directory_path() / "sha256_test_XXXXXX").string();
  const int descriptor = mkstemp(path.data());
  if (descriptor < 0) {
    return {};
  }
  const bool written = write(descriptor, message.data(), message.size()) == static_cast<ssize_t>(message.size());
  close(descriptor);
  std::string output(64, '\0');
  std::FILE* pipe = written ? popen(("sha256sum " + path).c_str(), "r") : nullptr;
  const std::size_t read = pipe ? std::fread(output.data(), 1, output.size(), pipe) : 0;
  if (pipe) {
    pclose(pipe);
  }
  std::filesystem::remove(path);
  output.resize(read);
  return output;
}

TEST(Sha256Test, FipsExamples) {
  const struct {
    std::string_view message;
    std::string_view digest;
  } examples[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opq"
       "rsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
  };
  for (const auto& example : examples) {
    SCOPED_TRACE(example.message);
    EXPECT_EQ(DigestOf(example.message), example.digest);
  }
}

TEST(Sha256Test, OneMillionLettersInOddPieces) {
  const std::string message(1'000'000, 'a');
  EXPECT_EQ(DigestInPieces(message, {1, 7, 63, 64, 65, 1000, 4097, 3}),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Test, MatchesSha256sumAroundBlockAndPaddingEdges) {
  std::mt19937 generator(180);
  for (const std::size_t length : {1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1'000'003}) {
    SCOPED_TRACE(length);
    std::string message(length, '\0');
    for (char& byte : message) {
      byte = static_cast<char>(generator());
    }
    const std::string expected = Sha256sumOf(message);
    ASSERT_EQ(expected.size(), 64u) << "sha256sum gave no digest";
    EXPECT_EQ(DigestOf(message), expected);
    EXPECT_EQ(DigestInPieces(message, {13, 64, 1, 200}), expected);
  }
}

}  // namespace
