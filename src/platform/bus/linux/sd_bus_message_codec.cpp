#include "platform/bus/linux/sd_bus_message_codec.h"

#include <fcntl.h>

#include <cstring>
#include <string>

namespace vistrelle::bus {

namespace {

BusError failure(BusError::Code code, const std::string& what, int r) {
  return BusError::make(code, what + " (" + std::strerror(-r) + ")");
}

int appendOne(sd_bus_message* m, const BusValue& value) {
  using Type = BusValue::Type;
  switch (value.type()) {
    case Type::Bool: {
      const int b = *value.asBool() ? 1 : 0;
      return sd_bus_message_append_basic(m, 'b', &b);
    }
    case Type::Byte: {
      const uint8_t v = *value.asByte();
      return sd_bus_message_append_basic(m, 'y', &v);
    }
    case Type::Int32: {
      const int32_t v = *value.asInt32();
      return sd_bus_message_append_basic(m, 'i', &v);
    }
    case Type::UInt32: {
      const uint32_t v = *value.asUInt32();
      return sd_bus_message_append_basic(m, 'u', &v);
    }
    case Type::Int64: {
      const int64_t v = *value.asInt64();
      return sd_bus_message_append_basic(m, 'x', &v);
    }
    case Type::UInt64: {
      const uint64_t v = *value.asUInt64();
      return sd_bus_message_append_basic(m, 't', &v);
    }
    case Type::Double: {
      const double v = *value.asDouble();
      return sd_bus_message_append_basic(m, 'd', &v);
    }
    case Type::String:
      return sd_bus_message_append_basic(m, 's', value.asString()->c_str());
    case Type::ObjectPath:
      return sd_bus_message_append_basic(m, 'o', value.asObjectPath()->c_str());
    case Type::UnixFd: {
      const int fd = value.asFd();
      return sd_bus_message_append_basic(m, 'h', &fd);
    }
    case Type::Array: {
      const auto& array = std::get<BusValue::ArrayItems>(value.storage());
      int r = sd_bus_message_open_container(m, 'a', array.elementSignature.c_str());
      for (size_t i = 0; r >= 0 && i < array.items.size(); ++i) r = appendOne(m, array.items[i]);
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    case Type::Dict: {
      const auto& dict = std::get<BusValue::DictEntries>(value.storage());
      const std::string entry = dict.keySignature + dict.valueSignature;
      const std::string element = "{" + entry + "}";
      int r = sd_bus_message_open_container(m, 'a', element.c_str());
      for (size_t i = 0; r >= 0 && i < dict.entries.size(); ++i) {
        r = sd_bus_message_open_container(m, 'e', entry.c_str());
        if (r >= 0) r = appendOne(m, dict.entries[i].first);
        if (r >= 0) r = appendOne(m, dict.entries[i].second);
        if (r >= 0) r = sd_bus_message_close_container(m);
      }
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    case Type::Struct: {
      const std::vector<BusValue>& fields = *value.asStruct();
      const std::string contents = signatureOf(fields);
      int r = sd_bus_message_open_container(m, 'r', contents.c_str());
      for (size_t i = 0; r >= 0 && i < fields.size(); ++i) r = appendOne(m, fields[i]);
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    case Type::Variant: {
      const BusValue& inner = value.unboxed();
      const std::string contents = inner.signature();
      int r = sd_bus_message_open_container(m, 'v', contents.c_str());
      if (r >= 0) r = appendOne(m, inner);
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
  }
  return -EINVAL;
}

// Reads the value whose type peek_type just gave.
BusResult<BusValue> readOne(sd_bus_message* m, char type, const char* contents);

BusResult<std::vector<BusValue>> readUntilEnd(sd_bus_message* m) {
  std::vector<BusValue> values;
  for (;;) {
    char type = 0;
    const char* contents = nullptr;
    const int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return failure(BusError::Code::BadReply, "unreadable message", r);
    if (r == 0) return values;
    BusResult<BusValue> value = readOne(m, type, contents);
    if (!value.ok()) return value.error();
    values.push_back(std::move(value).value());
  }
}

template <class T>
BusResult<BusValue> readBasic(sd_bus_message* m, char type) {
  T v{};
  const int r = sd_bus_message_read_basic(m, type, &v);
  if (r <= 0) return failure(BusError::Code::BadReply, std::string("unreadable '") + type + "'", r);
  return BusValue(v);
}

BusResult<BusValue> readContainer(sd_bus_message* m, char type, const char* contents) {
  int r = sd_bus_message_enter_container(m, type, contents);
  if (r <= 0) return failure(BusError::Code::BadReply, "unreadable container", r);
  BusResult<std::vector<BusValue>> inner = readUntilEnd(m);
  if (!inner.ok()) return inner.error();
  r = sd_bus_message_exit_container(m);
  if (r < 0) return failure(BusError::Code::BadReply, "unreadable container end", r);
  std::vector<BusValue> items = std::move(inner).value();
  const std::string signature = contents ? contents : "";
  switch (type) {
    case 'v':
      if (items.size() != 1) return BusError::make(BusError::Code::BadReply, "empty variant");
      return BusValue::variant(std::move(items[0]));
    case 'r':
      return BusValue::structOf(std::move(items));
    case 'e':
      if (items.size() != 2) return BusError::make(BusError::Code::BadReply, "bad dict entry");
      return BusValue::structOf(std::move(items));  // taken apart by the dictionary below
    default:
      break;
  }
  // An array; of dict entries when its element is "{kv}".
  if (signature.size() >= 4 && signature.front() == '{') {
    std::vector<std::pair<BusValue, BusValue>> entries;
    entries.reserve(items.size());
    for (BusValue& item : items) {
      const std::vector<BusValue>& pair = *item.asStruct();
      entries.emplace_back(pair[0], pair[1]);
    }
    return BusValue::dict(signature.substr(1, 1), signature.substr(2, signature.size() - 3),
                          std::move(entries));
  }
  return BusValue::array(signature, std::move(items));
}

BusResult<BusValue> readOne(sd_bus_message* m, char type, const char* contents) {
  switch (type) {
    case 'b': {
      int v = 0;
      const int r = sd_bus_message_read_basic(m, 'b', &v);
      if (r <= 0) return failure(BusError::Code::BadReply, "unreadable 'b'", r);
      return BusValue(v != 0);
    }
    case 'y': {
      uint8_t v = 0;
      const int r = sd_bus_message_read_basic(m, 'y', &v);
      if (r <= 0) return failure(BusError::Code::BadReply, "unreadable 'y'", r);
      return BusValue::byte(v);
    }
    case 'i':
      return readBasic<int32_t>(m, type);
    case 'u':
      return readBasic<uint32_t>(m, type);
    case 'x':
      return readBasic<int64_t>(m, type);
    case 't':
      return readBasic<uint64_t>(m, type);
    case 'd':
      return readBasic<double>(m, type);
    case 's':
    case 'o': {
      const char* text = nullptr;
      const int r = sd_bus_message_read_basic(m, type, &text);
      if (r <= 0 || !text)
        return failure(BusError::Code::BadReply, std::string("unreadable '") + type + "'", r);
      return type == 's' ? BusValue(std::string(text)) : BusValue::objectPath(text);
    }
    case 'h': {
      int fd = -1;
      const int r = sd_bus_message_read_basic(m, 'h', &fd);
      if (r <= 0) return failure(BusError::Code::BadReply, "unreadable 'h'", r);
      // The message owns its descriptor; the value gets one of its own.
      dispatch::UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 3));
      if (!own) return failure(BusError::Code::BadReply, "unix fd not duplicated", -errno);
      return BusValue::unixFd(std::move(own));
    }
    case 'a':
    case 'r':
    case 'v':
    case 'e':
      return readContainer(m, type, contents);
    default:
      return BusError::make(BusError::Code::BadReply,
                            std::string("a D-Bus type this layer does not read: '") + type + "'");
  }
}

}  // namespace

BusResult<void> SdBusMessageCodec::append(sd_bus_message* message,
                                          const std::vector<BusValue>& values) {
  for (const BusValue& value : values) {
    if (auto reason = value.invalidReason())
      return BusError::make(BusError::Code::InvalidArgument, *reason);
    const int r = appendOne(message, value);
    if (r < 0)
      return failure(BusError::Code::InvalidArgument,
                     "argument of type \"" + value.signature() + "\" not appended", r);
  }
  return {};
}

BusResult<std::vector<BusValue>> SdBusMessageCodec::read(sd_bus_message* message) {
  return readUntilEnd(message);
}

}  // namespace vistrelle::bus
