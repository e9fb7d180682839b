#include "device/monitors/usb_device.h"

namespace vistrelle {
namespace {

std::optional<uint16_t> readU16(const Value& value) {
  if (!value.isInteger()) return std::nullopt;
  int64_t v = *value.asInt();
  if (v < 0 || v > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(v);
}

}  // namespace

Value USBDevice::toValue(std::optional<uint64_t> handleToken) const {
  Value::Map map{{"id", Value(static_cast<unsigned long>(id))},
                 {"vendorId", Value(unsigned{vendorId})},
                 {"productId", Value(unsigned{productId})},
                 {"name", Value(name)}};
  if (handleToken) map["handleToken"] = Value(static_cast<unsigned long>(*handleToken));
  return Value(std::move(map));
}

std::optional<USBDevice> USBDevice::fromValue(const Value& value) {
  if (!value.isMap() || !value["id"].isInteger() || !value["name"].isString()) return std::nullopt;
  auto vendorId = readU16(value["vendorId"]);
  auto productId = readU16(value["productId"]);
  if (!vendorId || !productId) return std::nullopt;
  USBDevice device;
  // The id travels as the bits of an unsigned 64-bit number.
  device.id = static_cast<uint64_t>(*value["id"].asInt());
  device.vendorId = *vendorId;
  device.productId = *productId;
  device.name = *value["name"].asString();
  return device;
}

std::optional<uint64_t> USBDevice::handleTokenOf(const Value& value) {
  const Value& token = value["handleToken"];
  if (!token.isInteger()) return std::nullopt;
  return static_cast<uint64_t>(*token.asInt());
}

std::string USBDevice::truncatedName(std::string name) {
  if (name.size() <= kMaxNameBytes) return name;
  size_t cut = kMaxNameBytes;
  // Step back over continuation bytes so that the cut falls before a lead byte.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  name.resize(cut);
  return name;
}

}  // namespace vistrelle
