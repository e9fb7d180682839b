#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/dispatch/unique_fd.h"

namespace vistrelle::bus {

// One D-Bus argument: a basic value (bool, byte, int32, uint32, int64, uint64,
// double, string, object path, unix fd), or an array, dictionary, struct or
// variant of them.  Each value knows its D-Bus signature, so an empty array
// still carries its element type.
//
// A unix fd is shared by the copies of the value and closed with the last of
// them: holding a logind inhibitor's value holds the lock.
class BusValue {
 public:
  enum class Type {
    Bool,
    Byte,
    Int32,
    UInt32,
    Int64,
    UInt64,
    Double,
    String,
    ObjectPath,
    UnixFd,
    Array,
    Dict,
    Struct,
    Variant
  };

  struct ObjectPathText {
    std::string path;
    bool operator==(const ObjectPathText&) const = default;
  };
  struct Fd {
    std::shared_ptr<dispatch::UniqueFd> fd;
    // Two fds are equal when they are the same open descriptor.
    bool operator==(const Fd& other) const {
      return (fd ? fd->get() : -1) == (other.fd ? other.fd->get() : -1);
    }
  };
  struct ArrayItems {
    std::string elementSignature;
    std::vector<BusValue> items;
    bool operator==(const ArrayItems&) const = default;
  };
  struct DictEntries {
    std::string keySignature;
    std::string valueSignature;
    std::vector<std::pair<BusValue, BusValue>> entries;
    // Defined where BusValue is complete: comparing pairs of it here would
    // need the type while it is still being defined (clang refuses that).
    bool operator==(const DictEntries& other) const;
  };
  struct StructFields {
    std::vector<BusValue> fields;
    bool operator==(const StructFields&) const = default;
  };
  struct Boxed {
    std::shared_ptr<const BusValue> value;
    bool operator==(const Boxed& other) const;
  };

  using Storage =
      std::variant<bool, uint8_t, int32_t, uint32_t, int64_t, uint64_t, double, std::string,
                   ObjectPathText, Fd, ArrayItems, DictEntries, StructFields, Boxed>;

  // An empty string.
  BusValue() : storage_(std::string()) {}
  BusValue(bool v) : storage_(v) {}
  BusValue(int32_t v) : storage_(v) {}
  BusValue(uint32_t v) : storage_(v) {}
  BusValue(int64_t v) : storage_(v) {}
  BusValue(uint64_t v) : storage_(v) {}
  BusValue(double v) : storage_(v) {}
  BusValue(const char* v) : storage_(std::string(v)) {}
  BusValue(std::string v) : storage_(std::move(v)) {}

  static BusValue byte(uint8_t v) { return BusValue(Storage(v)); }
  static BusValue objectPath(std::string path) { return BusValue(ObjectPathText{std::move(path)}); }
  // Takes ownership of `fd`.
  static BusValue unixFd(dispatch::UniqueFd fd);
  // Every item must have `elementSignature` (checked when the value is sent).
  static BusValue array(std::string elementSignature, std::vector<BusValue> items);
  // Keys must be basic types.
  static BusValue dict(std::string keySignature, std::string valueSignature,
                       std::vector<std::pair<BusValue, BusValue>> entries);
  static BusValue structOf(std::vector<BusValue> fields);
  static BusValue variant(BusValue inner);

  Type type() const { return static_cast<Type>(storage_.index()); }
  std::string signature() const;
  // Why this value cannot be sent (an array item of the wrong type, an invalid
  // object path, a dictionary key that is not basic, ...), or none.
  std::optional<std::string> invalidReason() const;

  // Strict reads: none unless the value has exactly that type.  A variant is
  // not looked through (use unboxed()).
  std::optional<bool> asBool() const { return get<bool>(); }
  std::optional<uint8_t> asByte() const { return get<uint8_t>(); }
  std::optional<int32_t> asInt32() const { return get<int32_t>(); }
  std::optional<uint32_t> asUInt32() const { return get<uint32_t>(); }
  std::optional<int64_t> asInt64() const { return get<int64_t>(); }
  std::optional<uint64_t> asUInt64() const { return get<uint64_t>(); }
  std::optional<double> asDouble() const { return get<double>(); }
  const std::string* asString() const { return std::get_if<std::string>(&storage_); }
  const std::string* asObjectPath() const;
  // The descriptor, owned by this value and its copies; -1 when not an fd.
  int asFd() const;
  // A descriptor of its own (F_DUPFD_CLOEXEC), invalid when not an fd.
  dispatch::UniqueFd duplicateFd() const;
  const std::vector<BusValue>* asArray() const;
  const std::vector<std::pair<BusValue, BusValue>>* asDict() const;
  const std::vector<BusValue>* asStruct() const;
  // The inner value of a variant; this value itself otherwise.
  const BusValue& unboxed() const;

  const Storage& storage() const { return storage_; }
  bool operator==(const BusValue& other) const = default;

  // Whether `signature` is exactly one complete type that BusValue can hold.
  static bool isSingleCompleteType(const std::string& signature);

 private:
  explicit BusValue(Storage storage) : storage_(std::move(storage)) {}
  template <class T>
  std::optional<T> get() const {
    if (const T* v = std::get_if<T>(&storage_)) return *v;
    return std::nullopt;
  }

  Storage storage_;
};

// The joined signatures of an argument list, as a method or signal carries it.
std::string signatureOf(const std::vector<BusValue>& values);

}  // namespace vistrelle::bus
