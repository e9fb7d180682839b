#include "base/helpers/md5_digest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vistrelle::base {
namespace {

TEST(Md5Hex, KnownDigestsInBothCases) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex("abc", HexCase::Upper), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(md5Hex("眼镜"), "db9b92eef7a137a65f3f1301eb26cb61");
}

// A file in a fresh temporary folder, removed with it.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::vector<std::uint8_t>& contents) {
    std::string pattern = (std::filesystem::temp_directory_path() / "md5-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    path_ = folder_ / "data.bin";
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
  }
  ~TemporaryFile() { std::filesystem::remove_all(folder_); }
  std::string path() const { return path_.string(); }
  std::string folder() const { return folder_.string(); }

 private:
  std::filesystem::path folder_;
  std::filesystem::path path_;
};

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t state = 12345;
  for (auto& byte : data) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return data;
}

TEST(FileMD5, ChunkedDigestEqualsTheOneShotDigest) {
  // Two and a half chunks: two full reads and a short last one.
  const auto data = pattern(kMd5ChunkSize * 5 / 2);
  const TemporaryFile file(data);
  EXPECT_EQ(fileMD5(file.path()), hexString(md5(data), HexCase::Lower));
  const TemporaryFile empty({});
  EXPECT_EQ(fileMD5(empty.path()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(FileMD5, UnreadableFilesGiveEmptyText) {
  const TemporaryFile file(pattern(10));
  EXPECT_EQ(fileMD5(file.folder() + "/missing"), "");
  // A folder opens but fails on the first read.
  EXPECT_EQ(fileMD5(file.folder()), "");
}

TEST(Md5HexOfChunks, ReadFailingMidwayGivesEmptyText) {
  const auto data = pattern(100);
  int calls = 0;
  const auto failsOnSecondRead = [&](std::span<std::uint8_t> buffer) -> std::optional<std::size_t> {
    if (++calls > 1) return std::nullopt;
    std::copy(data.begin(), data.end(), buffer.begin());
    return data.size();
  };
  EXPECT_EQ(md5HexOfChunks(failsOnSecondRead), "");
  EXPECT_EQ(calls, 2);
}

TEST(Md5HexOfChunks, ShortReadsAreJoined) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  std::size_t at = 0;
  const auto threeBytesAtATime = [&](std::span<std::uint8_t> buffer) -> std::optional<std::size_t> {
    const std::size_t count = std::min<std::size_t>({3, buffer.size(), text.size() - at});
    std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(at), count, buffer.begin());
    at += count;
    return count;
  };
  EXPECT_EQ(md5HexOfChunks(threeBytesAtATime), "9e107d9d372bb6826bd81d3542a419d6");
}

}  // namespace
}  // namespace vistrelle::base
