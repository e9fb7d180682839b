#pragma once

#include <stdexcept>

namespace vistrelle::base {

// A ciphertext that does not decrypt: bad Base64, a length that is not a
// whole number of blocks, bad padding, or a plaintext that is not UTF-8.
class DesCryptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vistrelle::base
