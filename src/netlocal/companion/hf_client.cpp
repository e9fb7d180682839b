#include "netlocal/companion/hf_client.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/dispatch/runtime.h"

namespace vistrelle::netlocal {

struct HFClient::Stream {
  int32_t counter = 0;  // touched only by the stream's own handler
  dispatch::TimerSourcePtr timer;
};

struct HFClient::Core {
  std::atomic<int32_t> fd{-1};
  std::function<void(const std::string&)> printError;
  std::mutex mutex;
  std::vector<std::shared_ptr<Stream>> streams;

  void end(const std::shared_ptr<Stream>& stream) {
    {
      std::lock_guard lock(mutex);
      const auto found = std::find(streams.begin(), streams.end(), stream);
      if (found == streams.end()) return;
      streams.erase(found);
    }
    stream->timer->cancel();
  }

  void fire(const std::shared_ptr<Stream>& stream) {
    const int n = stream->counter++;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "Ping %d\n", n);
    const int target = fd.load(std::memory_order_relaxed);
    ssize_t written =
        ::send(target, line, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0 && errno == ENOTSOCK)
      written = ::write(target, line, static_cast<size_t>(length));
    if (written >= 0) return;
    const int error = errno;
    // A socket whose peer does not read fast enough misses pings; it does not
    // hold a global-queue thread.
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) return;
    printError(std::string("write: ") + std::strerror(error));
    end(stream);
  }
};

HFClient::HFClient() : HFClient(Options{}) {}

HFClient::HFClient(Options options) : core_(std::make_shared<Core>()) {
  if (!options.queue) options.queue = dispatch::globalQueue();
  if (!options.printError) {
    options.printError = [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
    };
  }
  core_->printError = std::move(options.printError);
  queue_ = std::move(options.queue);
}

HFClient::~HFClient() {
  stop();
}

int32_t HFClient::clientSocket() const {
  return core_->fd.load(std::memory_order_relaxed);
}

void HFClient::setClientSocket(int32_t fd) {
  core_->fd.store(fd, std::memory_order_relaxed);
}

void HFClient::startSending() {
  if (clientSocket() < 0) return;
  auto stream = std::make_shared<Stream>();
  stream->timer = dispatch::TimerSource::create(queue_);
  std::weak_ptr<Core> weakCore = core_;
  std::weak_ptr<Stream> weakStream = stream;
  stream->timer->setEventHandler([weakCore, weakStream] {
    const auto core = weakCore.lock();
    const auto running = weakStream.lock();
    if (core && running) core->fire(running);
  });
  stream->timer->setTimer(queue_->now(), kInterval);
  {
    std::lock_guard lock(core_->mutex);
    core_->streams.push_back(stream);
  }
  stream->timer->resume();
}

void HFClient::stop() {
  std::vector<std::shared_ptr<Stream>> streams;
  {
    std::lock_guard lock(core_->mutex);
    streams.swap(core_->streams);
  }
  for (const auto& stream : streams) stream->timer->cancel();
}

size_t HFClient::streamCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->streams.size();
}

}  // namespace vistrelle::netlocal
