#include "platform/bus/bus_value.h"

#include <fcntl.h>

#include "platform/bus/bus_names.h"

namespace vistrelle::bus {

namespace {

bool isBasicCode(char c) {
  switch (c) {
    case 'b':
    case 'y':
    case 'i':
    case 'u':
    case 'x':
    case 't':
    case 'd':
    case 's':
    case 'o':
    case 'h':
      return true;
    default:
      return false;
  }
}

// Reads one complete type at `pos`; false when there is none.  D-Bus limits
// nesting to 32 arrays and 32 structs; a shared bound of 64 keeps hostile
// signatures from recursing deep.
bool readCompleteType(const std::string& signature, size_t& pos, int depth = 0) {
  if (pos >= signature.size() || depth > 64) return false;
  const char c = signature[pos++];
  if (isBasicCode(c) || c == 'v') return true;
  if (c == 'a') {
    if (pos < signature.size() && signature[pos] == '{') {
      ++pos;
      if (pos >= signature.size() || !isBasicCode(signature[pos])) return false;
      ++pos;
      if (!readCompleteType(signature, pos, depth + 1)) return false;
      if (pos >= signature.size() || signature[pos] != '}') return false;
      ++pos;
      return true;
    }
    return readCompleteType(signature, pos, depth + 1);
  }
  if (c == '(') {
    if (pos < signature.size() && signature[pos] == ')') return false;  // no empty structs
    while (pos < signature.size() && signature[pos] != ')') {
      if (!readCompleteType(signature, pos, depth + 1)) return false;
    }
    if (pos >= signature.size()) return false;
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

bool BusValue::DictEntries::operator==(const DictEntries& other) const {
  return keySignature == other.keySignature && valueSignature == other.valueSignature &&
         entries == other.entries;
}

bool BusValue::Boxed::operator==(const Boxed& other) const {
  if (!value || !other.value) return value == other.value;
  return *value == *other.value;
}

BusValue BusValue::unixFd(dispatch::UniqueFd fd) {
  return BusValue(Fd{std::make_shared<dispatch::UniqueFd>(std::move(fd))});
}

BusValue BusValue::array(std::string elementSignature, std::vector<BusValue> items) {
  return BusValue(ArrayItems{std::move(elementSignature), std::move(items)});
}

BusValue BusValue::dict(std::string keySignature, std::string valueSignature,
                        std::vector<std::pair<BusValue, BusValue>> entries) {
  return BusValue(
      DictEntries{std::move(keySignature), std::move(valueSignature), std::move(entries)});
}

BusValue BusValue::structOf(std::vector<BusValue> fields) {
  return BusValue(StructFields{std::move(fields)});
}

BusValue BusValue::variant(BusValue inner) {
  return BusValue(Boxed{std::make_shared<const BusValue>(std::move(inner))});
}

std::string BusValue::signature() const {
  switch (type()) {
    case Type::Bool:
      return "b";
    case Type::Byte:
      return "y";
    case Type::Int32:
      return "i";
    case Type::UInt32:
      return "u";
    case Type::Int64:
      return "x";
    case Type::UInt64:
      return "t";
    case Type::Double:
      return "d";
    case Type::String:
      return "s";
    case Type::ObjectPath:
      return "o";
    case Type::UnixFd:
      return "h";
    case Type::Array:
      return "a" + std::get<ArrayItems>(storage_).elementSignature;
    case Type::Dict: {
      const auto& dict = std::get<DictEntries>(storage_);
      return "a{" + dict.keySignature + dict.valueSignature + "}";
    }
    case Type::Struct:
      return "(" + signatureOf(std::get<StructFields>(storage_).fields) + ")";
    case Type::Variant:
      return "v";
  }
  return "";
}

std::optional<std::string> BusValue::invalidReason() const {
  switch (type()) {
    case Type::String:
      if (!isValidUtf8Text(std::get<std::string>(storage_)))
        return "a string that is not UTF-8 or holds a NUL";
      return std::nullopt;
    case Type::ObjectPath: {
      const std::string& path = std::get<ObjectPathText>(storage_).path;
      if (!isValidObjectPath(path)) return "an invalid object path \"" + path + "\"";
      return std::nullopt;
    }
    case Type::UnixFd: {
      const auto& fd = std::get<Fd>(storage_).fd;
      if (!fd || !fd->valid()) return "a unix fd that is not open";
      return std::nullopt;
    }
    case Type::Array: {
      const auto& array = std::get<ArrayItems>(storage_);
      if (!isSingleCompleteType(array.elementSignature))
        return "an array element signature \"" + array.elementSignature + "\"";
      for (const BusValue& item : array.items) {
        if (item.signature() != array.elementSignature)
          return "an array of \"" + array.elementSignature + "\" holding a \"" + item.signature() +
                 "\"";
        if (auto reason = item.invalidReason()) return reason;
      }
      return std::nullopt;
    }
    case Type::Dict: {
      const auto& dict = std::get<DictEntries>(storage_);
      if (dict.keySignature.size() != 1 || !isBasicCode(dict.keySignature[0]))
        return "a dictionary key signature \"" + dict.keySignature + "\"";
      if (!isSingleCompleteType(dict.valueSignature))
        return "a dictionary value signature \"" + dict.valueSignature + "\"";
      for (const auto& [key, value] : dict.entries) {
        if (key.signature() != dict.keySignature || value.signature() != dict.valueSignature)
          return "a dictionary of \"" + dict.keySignature + dict.valueSignature +
                 "\" holding a \"" + key.signature() + value.signature() + "\"";
        if (auto reason = key.invalidReason()) return reason;
        if (auto reason = value.invalidReason()) return reason;
      }
      return std::nullopt;
    }
    case Type::Struct: {
      const auto& fields = std::get<StructFields>(storage_).fields;
      if (fields.empty()) return "an empty struct";
      for (const BusValue& field : fields) {
        if (auto reason = field.invalidReason()) return reason;
      }
      return std::nullopt;
    }
    case Type::Variant: {
      const auto& boxed = std::get<Boxed>(storage_).value;
      if (!boxed) return "an empty variant";
      return boxed->invalidReason();
    }
    default:
      return std::nullopt;
  }
}

const std::string* BusValue::asObjectPath() const {
  if (const auto* path = std::get_if<ObjectPathText>(&storage_)) return &path->path;
  return nullptr;
}

int BusValue::asFd() const {
  if (const auto* fd = std::get_if<Fd>(&storage_)) return fd->fd ? fd->fd->get() : -1;
  return -1;
}

dispatch::UniqueFd BusValue::duplicateFd() const {
  const int fd = asFd();
  if (fd < 0) return dispatch::UniqueFd();
  return dispatch::UniqueFd(fcntl(fd, F_DUPFD_CLOEXEC, 3));
}

const std::vector<BusValue>* BusValue::asArray() const {
  if (const auto* array = std::get_if<ArrayItems>(&storage_)) return &array->items;
  return nullptr;
}

const std::vector<std::pair<BusValue, BusValue>>* BusValue::asDict() const {
  if (const auto* dict = std::get_if<DictEntries>(&storage_)) return &dict->entries;
  return nullptr;
}

const std::vector<BusValue>* BusValue::asStruct() const {
  if (const auto* fields = std::get_if<StructFields>(&storage_)) return &fields->fields;
  return nullptr;
}

const BusValue& BusValue::unboxed() const {
  if (const auto* boxed = std::get_if<Boxed>(&storage_); boxed && boxed->value)
    return *boxed->value;
  return *this;
}

bool BusValue::isSingleCompleteType(const std::string& signature) {
  size_t pos = 0;
  return readCompleteType(signature, pos) && pos == signature.size();
}

std::string signatureOf(const std::vector<BusValue>& values) {
  std::string signature;
  for (const BusValue& value : values) signature += value.signature();
  return signature;
}

}  // namespace vistrelle::bus
