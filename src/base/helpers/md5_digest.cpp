#include "base/helpers/md5_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

namespace vistrelle::base {

namespace {

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// An MD5 computation over OpenSSL's EVP interface.
class Md5Context {
 public:
  Md5Context() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr) != 1) {
      throw std::runtime_error("cannot start an MD5 digest");
    }
  }

  void update(std::span<const std::uint8_t> data) {
    if (EVP_DigestUpdate(context_.get(), data.data(), data.size()) != 1) {
      throw std::runtime_error("cannot update an MD5 digest");
    }
  }

  Md5Digest finish() {
    Md5Digest digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 ||
        length != digest.size()) {
      throw std::runtime_error("cannot finish an MD5 digest");
    }
    return digest;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context_;
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Md5Digest md5(std::span<const std::uint8_t> data) {
  Md5Context context;
  context.update(data);
  return context.finish();
}

std::string hexString(const Md5Digest& digest, HexCase letters) {
  const char* digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    hex += digits[byte >> 4];
    hex += digits[byte & 0xF];
  }
  return hex;
}

std::string md5Hex(std::string_view text, HexCase letters) {
  return hexString(md5({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}), letters);
}

std::string md5HexOfChunks(const ChunkReader& read) {
  Md5Context context;
  std::vector<std::uint8_t> buffer(kMd5ChunkSize);
  while (true) {
    const auto count = read(buffer);
    // A digest of the part before a failed read would pass for the file's.
    if (!count) return {};
    if (*count == 0) break;
    context.update(std::span(buffer).first(*count));
  }
  return hexString(context.finish(), HexCase::Lower);
}

std::string fileMD5(const std::string& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return {};
  return md5HexOfChunks([&file](std::span<std::uint8_t> buffer) -> std::optional<std::size_t> {
    while (true) {
      const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
      if (count >= 0) return static_cast<std::size_t>(count);
      if (errno != EINTR) return std::nullopt;
    }
  });
}

}  // namespace vistrelle::base
