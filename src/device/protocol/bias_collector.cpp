#include "device/protocol/bias_collector.h"

namespace vistrelle::device {

int32_t BiasCollector::addReply(const std::optional<BiasRecord>& record) {
  std::lock_guard lock(mutex_);
  const int32_t index = count_;
  if (record) {
    records_.push_back(*record);
  }
  if (count_ == maxBiasCount1 - 1) {
    dictBuilt_ = true;
  }
  ++count_;
  return index;
}

void BiasCollector::reset() {
  std::lock_guard lock(mutex_);
  records_.clear();
  count_ = 0;
}

int32_t BiasCollector::biasCount() const {
  std::lock_guard lock(mutex_);
  return count_;
}

bool BiasCollector::isComplete() const {
  std::lock_guard lock(mutex_);
  return count_ >= maxBiasCount1;
}

std::vector<BiasRecord> BiasCollector::biasArray() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::optional<Value::Map> BiasCollector::biasDict() const {
  std::lock_guard lock(mutex_);
  if (!dictBuilt_) {
    return std::nullopt;
  }
  Value::List value;
  value.reserve(records_.size());
  for (const auto& record : records_) {
    value.push_back(record.toValue());
  }
  return Value::Map{{"type", Value(kMessageType)}, {"value", Value(std::move(value))}};
}

}  // namespace vistrelle::device
