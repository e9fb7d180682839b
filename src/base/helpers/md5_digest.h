#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vistrelle::base {

enum class HexCase { Lower, Upper };

using Md5Digest = std::array<std::uint8_t, 16>;

// Fills the buffer with the next bytes of a source: the number of bytes
// written, 0 at the end, none on a read error.
using ChunkReader = std::function<std::optional<std::size_t>(std::span<std::uint8_t> buffer)>;

// The chunk size of file digests.
inline constexpr std::size_t kMd5ChunkSize = 1'048'576;

Md5Digest md5(std::span<const std::uint8_t> data);

// The 32 hex digits of a digest.
std::string hexString(const Md5Digest& digest, HexCase letters);

// MD5 of the text's UTF-8 bytes as hex.
std::string md5Hex(std::string_view text, HexCase letters = HexCase::Lower);

// Lower-case hex MD5 of everything the reader yields, read in chunks of
// kMd5ChunkSize; "" when a read fails, even after some chunks were digested.
std::string md5HexOfChunks(const ChunkReader& read);

// Lower-case hex MD5 of a file's contents; "" when the file cannot be opened
// or a read fails.
std::string fileMD5(const std::string& path);

}  // namespace vistrelle::base
