#include "platform/hid/linux/hidraw_node_description.h"

#include <charconv>
#include <string_view>

namespace vistrelle::hid {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return text;
}

std::optional<uint32_t> parseHex(std::string_view text, size_t maxDigits) {
  text = trimmed(text);
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint16_t> parseHexId(const std::string& text) {
  auto value = parseHex(text, 4);
  if (!value) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

bool parseHidId(const std::string& text, uint16_t& vendorId, uint16_t& productId) {
  std::string_view view = trimmed(text);
  const size_t first = view.find(':');
  if (first == std::string_view::npos) return false;
  const size_t second = view.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  auto bus = parseHex(view.substr(0, first), 4);
  auto vendor = parseHex(view.substr(first + 1, second - first - 1), 8);
  auto product = parseHex(view.substr(second + 1), 8);
  if (!bus || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) return false;
  vendorId = static_cast<uint16_t>(*vendor);
  productId = static_cast<uint16_t>(*product);
  return true;
}

HidDeviceInfo describeHidrawNode(const HidrawNodeAttributes& attributes) {
  HidDeviceInfo info;
  if (attributes.devnode) info.path = *attributes.devnode;
  if (attributes.usbSysname) info.portPath = trimmed(*attributes.usbSysname);
  std::optional<uint16_t> vendor;
  std::optional<uint16_t> product;
  if (attributes.idVendor) vendor = parseHexId(*attributes.idVendor);
  if (attributes.idProduct) product = parseHexId(*attributes.idProduct);
  if (vendor && product) {
    info.vendorId = *vendor;
    info.productId = *product;
  } else if (attributes.hidId) {
    parseHidId(*attributes.hidId, info.vendorId, info.productId);
  }
  if (attributes.bcdDevice) info.version = std::string(trimmed(*attributes.bcdDevice));
  if (attributes.product) info.name = std::string(trimmed(*attributes.product));
  return info;
}

}  // namespace vistrelle::hid
