#include "app/coalescing_brightness_writer.h"

namespace vistrelle {

CoalescingBrightnessWriter::CoalescingBrightnessWriter(std::shared_ptr<BrightnessPort> port,
                                                       dispatch::ExecutorPtr worker)
    : shared_(std::make_shared<Shared>()), worker_(std::move(worker)) {
  shared_->port = std::move(port);
}

void CoalescingBrightnessWriter::write(float value) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->pending = std::make_pair(++shared_->nextSequence, value);
    if (shared_->scheduled) return;
    shared_->scheduled = true;
  }
  worker_->post([shared = shared_] { drain(shared); });
}

void CoalescingBrightnessWriter::writeNow(float value) {
  uint64_t sequence = 0;
  {
    std::lock_guard lock(shared_->mutex);
    sequence = ++shared_->nextSequence;
    shared_->pending.reset();
  }
  writeOne(*shared_, sequence, value);
}

void CoalescingBrightnessWriter::drain(const std::shared_ptr<Shared>& shared) {
  for (;;) {
    std::pair<uint64_t, float> next;
    {
      std::lock_guard lock(shared->mutex);
      if (!shared->pending) {
        shared->scheduled = false;
        return;
      }
      next = *shared->pending;
      shared->pending.reset();
    }
    writeOne(*shared, next.first, next.second);
  }
}

void CoalescingBrightnessWriter::writeOne(Shared& shared, uint64_t sequence, float value) {
  std::lock_guard lock(shared.writeMutex);
  if (sequence <= shared.written) return;
  shared.written = sequence;
  shared.port->setBuiltinDisplayBrightness(value);
}

}  // namespace vistrelle
