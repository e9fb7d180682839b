#pragma once

// What every fuzz target shares: the libFuzzer entry points, a check that
// stops the run, a reader that takes typed values off the input, and a
// scratch folder of the process' own.
//
// A target is one <name>_fuzz.cpp in this folder that defines
// LLVMFuzzerTestOneInput (and LLVMFuzzerInitialize when it must set
// something up once).  It must be deterministic: the same input does the
// same thing whether it runs first or after a million others, so that a
// reproducer replays the fault it was saved for.

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace vistrelle::fuzz {

// A broken invariant is a crash, so that libFuzzer saves the input and the
// replay program fails on it.
[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(condition)         \
  ((condition) ? static_cast<void>(0) \
               : ::vistrelle::fuzz::checkFailed(#condition, __FILE__, __LINE__))

// Takes little-endian values off the front of the input; past its end every
// read gives zeros, so a short input is still a valid (if dull) one.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : rest_(data, size) {}

  bool empty() const { return rest_.empty(); }
  size_t remaining() const { return rest_.size(); }

  uint8_t u8() { return static_cast<uint8_t>(take(1)); }
  uint16_t u16() { return static_cast<uint16_t>(take(2)); }
  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  uint64_t u64() { return take(8); }
  bool flag() { return (u8() & 1) != 0; }

  // Up to `count` bytes (fewer at the end of the input).
  std::span<const uint8_t> bytes(size_t count) {
    const size_t n = count < rest_.size() ? count : rest_.size();
    const std::span<const uint8_t> taken = rest_.first(n);
    rest_ = rest_.subspan(n);
    return taken;
  }
  // A length byte, then that many bytes.
  std::span<const uint8_t> sized() { return bytes(u8()); }
  std::span<const uint8_t> rest() { return bytes(rest_.size()); }
  std::string_view text(size_t count) { return asText(bytes(count)); }
  std::string_view sizedText() { return asText(sized()); }
  std::string_view restText() { return asText(rest()); }

  static std::string_view asText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }

 private:
  uint64_t take(size_t width) {
    uint64_t value = 0;
    const std::span<const uint8_t> taken = bytes(width);
    for (size_t i = 0; i < taken.size(); ++i) value |= uint64_t{taken[i]} << (8 * i);
    return value;
  }

  std::span<const uint8_t> rest_;
};

// A folder of this process' own for targets whose code under test reads or
// writes files: "vistrelle-fuzz-<pid>" in $TMPDIR, else in /dev/shm (a disk
// file system flushes rewritten files on close, which slows fuzzing a
// hundredfold), else in /tmp.  Never a user folder.  libFuzzer leaves
// without running destructors (at the end of its time, in forked jobs, on a
// crash), so each process also sweeps the folders of processes that are
// gone and have not touched them for ten minutes.
class ScratchFolder {
 public:
  static constexpr std::string_view kPrefix = "vistrelle-fuzz-";

  ScratchFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir
                             : access("/dev/shm", W_OK) == 0      ? "/dev/shm"
                                                                  : "/tmp";
    sweep(base);
    path_ = base + "/" + std::string(kPrefix) + std::to_string(getpid());
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    if (mkdir(path_.c_str(), 0700) != 0) {
      std::perror(("fuzz: cannot create " + path_).c_str());
      std::abort();
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  static void sweep(const std::string& base) {
    const auto stale = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(10);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
      const std::string name = entry.path().filename().string();
      if (name.compare(0, kPrefix.size(), kPrefix) != 0) continue;
      const std::string digits = name.substr(kPrefix.size());
      if (digits.empty() || digits.size() > 9 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        continue;
      }
      std::error_code timeError;
      const auto touched = std::filesystem::last_write_time(entry.path(), timeError);
      if (timeError || touched > stale) continue;
      const pid_t owner = static_cast<pid_t>(std::stol(digits));
      if (kill(owner, 0) != 0 && errno == ESRCH) {
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
      }
    }
  }

  std::string path_;
};

inline const std::string& scratchFolder() {
  static const ScratchFolder folder;
  return folder.path();
}

}  // namespace vistrelle::fuzz
