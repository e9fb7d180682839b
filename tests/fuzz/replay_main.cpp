// The replay program: the fuzz target built without libFuzzer, fed every file
// it is given (folders are read, in name order, skipping dot files) once.
// This is how the gcc builds run the committed corpora and reproducers as
// ordinary tests.
//
//   <name>_replay [--corpus FOLDER]... [PATH]...
//
// A folder given with --corpus must hold at least one input, so that a
// target whose seeds went missing fails instead of passing on nothing.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_support.h"

// Targets without a set-up step leave it undefined.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool collect(const fs::path& path, bool mustHoldInputs, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    inputs.push_back(path);
    return true;
  }
  if (!fs::is_directory(path, error)) {
    std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", path.c_str());
    return false;
  }
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
      found.push_back(entry.path());
    }
  }
  if (error) {
    std::fprintf(stderr, "replay: cannot read %s: %s\n", path.c_str(), error.message().c_str());
    return false;
  }
  if (mustHoldInputs && found.empty()) {
    std::fprintf(stderr, "replay: corpus %s holds no input\n", path.c_str());
    return false;
  }
  std::sort(found.begin(), found.end());
  inputs.insert(inputs.end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);

  std::vector<fs::path> inputs;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--corpus" && i + 1 < argc) {
      ok = collect(argv[++i], true, inputs) && ok;
    } else {
      ok = collect(argument, false, inputs) && ok;
    }
  }
  if (!ok) return 2;

  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    if (file.bad()) {
      std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
      return 2;
    }
    // Named first, so that a crash report says which input it was.
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", input.c_str(), bytes.size());
    // A heap block of the exact size, so that AddressSanitizer sees a read
    // past the end (an empty input gets a valid pointer too, as libFuzzer
    // gives it).
    const std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
  }
  std::fprintf(stderr, "replay: %zu inputs passed\n", inputs.size());
  return 0;
}
