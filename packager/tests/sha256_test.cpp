// SHA-256 through the host's library (OpenSSL on Linux; BCrypt on Windows, where the cross build
// runs this same file under Wine) against the FIPS 180-4 examples, and against coreutils' sha256sum
// at the lengths where the padding spills into an extra block, fed whole and in uneven pieces.
#include "signature/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The messages are std::mt19937(180)'s outputs cut to bytes, which the standard fixes on every
// host; the digests are what `sha256sum` printed for each message written to a file.
TEST(Sha256Test, MatchesSha256sumAroundBlockAndPaddingEdges) {
  const struct {
    std::size_t length;
    std::string_view digest;
  } cases[] = {
      {1, "d4f09e5c5af99a24c7e304ca7997d26cb00901697de08a49be0d46ab5839b614"},
      {55, "1fdd482b53ea822aa204a6bc64e122fcef077d92628bf0ac7b371c0d65355103"},
      {56, "4fbcb17bfef6c33014f44c3444d175d71f3924c9b7fd6f4e34401091697f40aa"},
      {57, "ac0d1ad61ddd0888473b5b7ae07b9cbe7ed4a36b0026ae0af5ae0bc1fd88dc03"},
      {63, "bd073559f05a1436a4fa62b1ea77abecee29d498161e9f85e1ec51c83cf61bbe"},
      {64, "243d45234aae5cbbf4d26bee0df065e07c693d7da2341b7999270bb7fc8c2cf0"},
      {65, "94bc7533727d2b1f43677d6aedd7247954cf50866a280f3f8f1c36291bca3934"},
      {119, "2cd87287703f5c72c9ed093aa3a00628198f075a56d240a95865cd6d79c78ebc"},
      {120, "063a966d9d83ad8ec3dd96a5a37a6c2ad24eb81d944a18271ea7c3ccc42a7d4f"},
      {128, "1df9489f4d0c3b57ec286cfeb29d5fb9f4ce4be6d7b7ce6a1a5460009ae264ac"},
      {1'000'003, "12a8fcd09049887cb58f1f88da76af24040861e2013da1b89c62919df242deb4"},
  };
  std::mt19937 generator(180);
  for (const auto& known : cases) {
    SCOPED_TRACE(known.length);
    std::string message(known.length, '\0');
    for (char& byte : message) {
      byte = static_cast<char>(generator());
    }
    EXPECT_EQ(DigestOf(message), known.digest);
    EXPECT_EQ(DigestInPieces(message, {13, 64, 1, 200}), known.digest);
  }
}

}  // namespace
