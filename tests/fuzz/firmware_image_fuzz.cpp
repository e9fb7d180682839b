// Fuzz target: the firmware image file as the updater reads it
// (ISPLdCMD::UpdateFileInfo), with header and without, from a file of the
// input's bytes.  The file comes with the application, but a damaged or
// foreign one must be refused, never read past or trusted for a size.
// Links: vistrelle_device_firmware

#include <sys/mman.h>

#include <string>

#include "device/firmware/isp_ld_cmd.h"
#include "fuzz/fuzz_support.h"
#include "platform/hid/fake/fake_hid_io_transport.h"

namespace {

using namespace vistrelle;

// The input as a file: an in-memory one, opened by its /proc path.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("firmware-image", MFD_CLOEXEC)) {
    if (fd_ < 0) {
      std::perror("fuzz: memfd_create");
      std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  const std::string& fill(const uint8_t* data, size_t size) {
    FUZZ_CHECK(ftruncate(fd_, 0) == 0);
    FUZZ_CHECK(pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size));
    return path_;
  }

 private:
  int fd_;
  std::string path_;
};

struct Failures : device::IProgramFlashCallback {
  void onStart() override {}
  void onProgress(float) override {}
  void onSuccess() override {}
  void onFail(int code) override {
    FUZZ_CHECK(code == kBadFile);
    ++count;
  }
  int count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static const auto transport = std::make_shared<hid::FakeHidIoTransport>();
  const std::string& path = file.fill(data, size);

  device::ISPLdCMD::Options options;
  options.transport = transport;
  options.log = [](std::string_view) {};
  device::ISPLdCMD command(options);
  Failures failures;
  command.SetCallback(&failures);

  for (const bool withHeader : {true, false}) {
    failures.count = 0;
    device::DfuFirmwareFile::Version version{};
    const bool read = command.UpdateFileInfo(path, version, withHeader);
    const device::DfuFirmwareFile& image = command.file();
    if (read) {
      FUZZ_CHECK(failures.count == 0);
      FUZZ_CHECK(image.imageLength() == image.image().size());
      FUZZ_CHECK(image.sum() == device::DfuFirmwareFile::byteSum(image.image()));
      if (withHeader) {
        // The image is the file's tail from H, and checks out.
        FUZZ_CHECK(image.headerLength() <= device::DfuFirmwareFile::kMaxHeaderLength);
        FUZZ_CHECK(image.versionLength() <= device::DfuFirmwareFile::kMaxVersionLength);
        FUZZ_CHECK(16 + image.versionLength() <= image.headerLength());
        FUZZ_CHECK(image.headerLength() + image.imageLength() <= size);
        FUZZ_CHECK(
            std::equal(image.image().begin(), image.image().end(), data + image.headerLength()));
        FUZZ_CHECK(image.sum() == image.checksum());
      } else {
        FUZZ_CHECK(image.imageLength() == size);
        FUZZ_CHECK(std::equal(image.image().begin(), image.image().end(), data));
      }
    } else {
      FUZZ_CHECK(failures.count == 1);
      FUZZ_CHECK(image.imageLength() == 0 && image.image().capacity() == 0);
    }
    // Whatever was read, the flasher refuses or writes exactly it; with no
    // boot loader every request fails at once.
    if (!read || image.imageLength() == 0) {
      failures.count = 0;
      command.FlashFile();
      FUZZ_CHECK(failures.count == 1);
    }
  }
  return 0;
}
