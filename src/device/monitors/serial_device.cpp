#include "device/monitors/serial_device.h"

namespace vistrelle {
namespace {

void putText(Value::Map& map, const char* key, const std::optional<std::string>& value) {
  if (value) map[key] = Value(*value);
}

void putNumber(Value::Map& map, const char* key, const std::optional<int64_t>& value) {
  if (value) map[key] = Value(static_cast<long long>(*value));
}

std::optional<std::string> readText(const Value& value) {
  if (const std::string* text = value.asString()) return *text;
  return std::nullopt;
}

std::optional<int64_t> readNumber(const Value& value) {
  if (!value.isInteger()) return std::nullopt;
  return value.asInt();
}

}  // namespace

bool SerialDevice::sameFields(const SerialDevice& other) const {
  return path == other.path && name == other.name && vendorName == other.vendorName &&
         serialNumber == other.serialNumber && vendorId == other.vendorId &&
         productId == other.productId;
}

SerialDevice SerialDevice::from(const serial::SerialPortInfo& port) {
  return SerialDevice{port.path,         port.name,     port.vendorName,
                      port.serialNumber, port.vendorId, port.productId};
}

Value SerialDevice::toValue() const {
  Value::Map map{{"path", Value(path)}};
  putText(map, "name", name);
  putText(map, "vendorName", vendorName);
  putText(map, "serialNumber", serialNumber);
  putNumber(map, "vendorId", vendorId);
  putNumber(map, "productId", productId);
  return Value(std::move(map));
}

std::optional<SerialDevice> SerialDevice::fromValue(const Value& value) {
  const std::string* path = value["path"].asString();
  if (path == nullptr) return std::nullopt;
  return SerialDevice{*path,
                      readText(value["name"]),
                      readText(value["vendorName"]),
                      readText(value["serialNumber"]),
                      readNumber(value["vendorId"]),
                      readNumber(value["productId"])};
}

}  // namespace vistrelle
