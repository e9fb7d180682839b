#include "netlocal/dnssd/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace vistrelle::netlocal {

namespace {

class Converter {
 public:
  explicit Converter(const std::string& encoding)
      : handle_(iconv_open(encoding.c_str(), "UTF-8")) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

}  // namespace

std::optional<Bytes> encodeText(const std::string& text, const std::string& encoding) {
  Converter converter(encoding);
  if (!converter.valid()) return std::nullopt;
  Bytes out(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  size_t written = 0;
  // The input, then the flush that ends a stateful encoding's shift.
  for (bool flushing = false;;) {
    char* outPtr = reinterpret_cast<char*>(out.data()) + written;
    size_t outLeft = out.size() - written;
    const size_t result = flushing ? iconv(converter.get(), nullptr, nullptr, &outPtr, &outLeft)
                                   : iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
    written = out.size() - outLeft;
    if (result != static_cast<size_t>(-1)) {
      if (flushing) break;
      flushing = true;
      continue;
    }
    if (errno != E2BIG) return std::nullopt;  // not representable, or cut short
    out.resize(out.size() * 2);
  }
  out.resize(written);
  return out;
}

}  // namespace vistrelle::netlocal
