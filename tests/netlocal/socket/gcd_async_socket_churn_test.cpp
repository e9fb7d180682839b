// Sockets opened, used and dropped from their own delegates' callbacks, on
// pool-backed delegate queues, while the pool has only four workers: the
// blocking calls and the destructors made there must never park the pool.
// The test fails on a stall (no progress for a second), never on a figure.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <set>
#include <thread>

#include "netlocal/socket/socket_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

constexpr auto kRunFor = 5s;
constexpr auto kStallLimit = 1s;
constexpr int kCyclers = 16;
constexpr int kPairs = 8;

// Every callback counts a step here; the test waits on it, a second at most.
class Progress {
 public:
  void step() {
    std::lock_guard lock(mutex_);
    ++steps_;
    moved_.notify_all();
  }
  uint64_t steps() const {
    std::lock_guard lock(mutex_);
    return steps_;
  }
  // False when no step came within `limit`.
  bool waitForStepAfter(uint64_t seen, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return moved_.wait_for(lock, limit, [&] { return steps_ != seen; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable moved_;
  uint64_t steps_ = 0;
};

Progress progress;

// Bounds the churned connections whose server end is still open: the one
// server queue handles them all, and must not fall ever further behind the
// sixteen clients (it would under a sanitizer).  A client that finds no room
// parks its next connection, and the server end that closes resumes it; no
// thread waits.
class Throttle {
 public:
  explicit Throttle(int limit) : limit_(limit) {}
  // True: go ahead.  False: `resume` runs once there is room.
  bool enter(std::function<void()> resume) {
    std::lock_guard lock(mutex_);
    if (open_ < limit_) {
      ++open_;
      return true;
    }
    parked_.push_back(std::move(resume));
    return false;
  }
  void leave() {
    std::function<void()> resume;
    {
      std::lock_guard lock(mutex_);
      if (parked_.empty()) {
        --open_;
      } else {
        resume = std::move(parked_.front());
        parked_.pop_front();
      }
    }
    if (resume) resume();
  }

 private:
  const int limit_;
  std::mutex mutex_;
  int open_ = 0;
  std::deque<std::function<void()>> parked_;
};

Throttle throttle(32);

// Connects, and from the connect notice either drops its last reference to
// the socket or disconnects it; then starts over.
class Cycler : public GCDAsyncSocketDelegate, public std::enable_shared_from_this<Cycler> {
 public:
  enum class Mode { DropLastReference, Disconnect };
  Cycler(Mode mode, uint16_t port) : mode_(mode), port_(port) {}

  void begin() {
    queue_->post([self = shared_from_this()] { self->next(); });
  }
  void stop() { stopping_ = true; }
  bool idle() const { return idle_; }
  uint64_t cycles() const { return cycles_; }

  void socketDidConnectToHost(const GCDAsyncSocketPtr& sock, const std::string& host,
                              uint16_t port) override {
    // The getters answer here, on a pool thread, without the socket queue.
    EXPECT_TRUE(sock->isConnected());
    EXPECT_EQ(sock->connectedPort(), port_);
    EXPECT_EQ(port, port_);
    EXPECT_EQ(host, "127.0.0.1");
    if (mode_ == Mode::DropLastReference) {
      // The notice holds the last reference; it goes when this returns.
      socket_.reset();
      finishCycle();
    } else {
      sock->disconnect();  // waits for the socket queue, on a pool thread
      EXPECT_TRUE(sock->isDisconnected());
    }
  }
  void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const SocketErrorPtr& error) override {
    progress.step();
    if (!sock) return;  // a dropped socket's notice
    if (error) {
      ADD_FAILURE() << error->describe();
      throttle.leave();  // never reached the server
    }
    if (sock != socket_) return;
    socket_.reset();
    finishCycle();
  }

 private:
  void finishCycle() {
    ++cycles_;
    if (stopping_) idle_ = true;
    progress.step();  // after the change, so that a watcher sees it
    if (!idle_) next();
  }
  void next() {
    auto self = shared_from_this();
    if (!throttle.enter([self] { self->queue_->post([self] { self->connect(); }); })) return;
    connect();
  }
  void connect() {
    socket_ = GCDAsyncSocket::create(weak_from_this(), queue_);
    SocketErrorPtr error;
    if (!socket_->connectToHost("127.0.0.1", port_, &error)) {
      ADD_FAILURE() << error->describe();
      throttle.leave();
      idle_ = true;
    }
  }

  const Mode mode_;
  const uint16_t port_;
  const dispatch::ExecutorPtr queue_ = dispatch::makeSerialQueue("churn.client");
  GCDAsyncSocketPtr socket_;  // on queue_ only
  std::atomic<bool> stopping_{false};
  std::atomic<bool> idle_{false};
  std::atomic<uint64_t> cycles_{0};
};

// Both ends of a ping-pong pair: every line read is checked with a getter and
// sent back.
class Bouncer : public GCDAsyncSocketDelegate {
 public:
  void socketDidConnectToHost(const GCDAsyncSocketPtr& sock, const std::string&,
                              uint16_t) override {
    sock->writeData(toBytes("ping\r\n"), -1, 0);
    sock->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);
  }
  void socketDidReadData(const GCDAsyncSocketPtr& sock, const SocketData& data, long) override {
    EXPECT_TRUE(sock->isConnected());
    EXPECT_EQ(data.str(), "ping\r\n");
    ++rounds;
    progress.step();
    if (stopping) return;
    sock->writeData(data.bytes(), -1, 0);
    sock->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);
  }
  void socketDidDisconnect(const GCDAsyncSocketPtr&, const SocketErrorPtr& error) override {
    if (error && !stopping) ADD_FAILURE() << "pair closed: " << error->describe();
  }

  std::atomic<bool> stopping{false};
  std::atomic<uint64_t> rounds{0};
};

// Accepts.  A churned connection stays open until its client ends it, and
// is dropped from inside the disconnect notice; a pair's server end gets a
// delegate and a queue of its own.
class Acceptor : public GCDAsyncSocketDelegate {
 public:
  explicit Acceptor(bool pairs) : pairs_(pairs) {}
  void socketDidAcceptNewSocket(const GCDAsyncSocketPtr&,
                                const GCDAsyncSocketPtr& newSocket) override {
    if (!pairs_) {
      newSocket->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);  // sees the end
      std::lock_guard lock(mutex_);
      open_.insert(newSocket);
    } else {
      auto bouncer = std::make_shared<Bouncer>();
      newSocket->synchronouslySetDelegate(bouncer, dispatch::makeSerialQueue("churn.server"));
      newSocket->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);
      std::lock_guard lock(mutex_);
      kept_.push_back({bouncer, newSocket});
    }
    progress.step();
  }
  void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const SocketErrorPtr&) override {
    GCDAsyncSocketPtr last;  // released after the lock, with the notice's own reference
    {
      std::lock_guard lock(mutex_);
      auto found = open_.find(sock);
      if (found != open_.end()) {
        last = *found;
        open_.erase(found);
      }
    }
    if (last) throttle.leave();
    progress.step();  // after the change, so that a watcher sees it
  }
  std::vector<std::pair<std::shared_ptr<Bouncer>, GCDAsyncSocketPtr>> kept() {
    std::lock_guard lock(mutex_);
    return kept_;
  }
  size_t open() {
    std::lock_guard lock(mutex_);
    return open_.size();
  }

 private:
  const bool pairs_;
  std::mutex mutex_;
  std::set<GCDAsyncSocketPtr> open_;
  std::vector<std::pair<std::shared_ptr<Bouncer>, GCDAsyncSocketPtr>> kept_;
};

[[noreturn]] void reportStall(const char* where) {
  ADD_FAILURE() << "no progress for a second " << where << " after " << progress.steps()
                << " steps";
  // Threads are stuck: nothing could be torn down.  End here so the run
  // reports the failure instead of hanging.
  std::fflush(stdout);
  std::_Exit(1);
}

// Runs until `done` or `limit`, as long as the steps keep coming.
void watchProgress(const std::function<bool()>& done, std::chrono::milliseconds limit,
                   const char* where) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) {
    if (!progress.waitForStepAfter(progress.steps(), kStallLimit)) reportStall(where);
  }
}

TEST(GCDAsyncSocketChurn, CallbacksThatBlockOrDropTheirSocketNeverStallThePool) {
  ASSERT_EQ(dispatch::Runtime::shared().pool()->workers(), 4u);
  auto churnAcceptor = std::make_shared<Acceptor>(false);
  auto churnListener = GCDAsyncSocket::create(churnAcceptor, dispatch::makeSerialQueue("accept"));
  ASSERT_TRUE(churnListener->acceptOnInterface("127.0.0.1", 0));
  auto pairAcceptor = std::make_shared<Acceptor>(true);
  auto pairListener =
      GCDAsyncSocket::create(pairAcceptor, dispatch::makeSerialQueue("accept.pairs"));
  ASSERT_TRUE(pairListener->acceptOnInterface("127.0.0.1", 0));

  std::vector<std::shared_ptr<Cycler>> cyclers;
  for (int i = 0; i < kCyclers; ++i) {
    const auto mode = i % 2 ? Cycler::Mode::Disconnect : Cycler::Mode::DropLastReference;
    cyclers.push_back(std::make_shared<Cycler>(mode, churnListener->localPort4()));
  }
  std::vector<std::shared_ptr<Bouncer>> bouncers;
  std::vector<GCDAsyncSocketPtr> pairClients;
  for (int i = 0; i < kPairs; ++i) {
    bouncers.push_back(std::make_shared<Bouncer>());
    pairClients.push_back(
        GCDAsyncSocket::create(bouncers.back(), dispatch::makeSerialQueue("churn.pair")));
    ASSERT_TRUE(pairClients.back()->connectToHost("127.0.0.1", pairListener->localPort4()));
  }
  for (auto& cycler : cyclers) cycler->begin();

  watchProgress([] { return false; }, kRunFor, "while churning");

  for (auto& cycler : cyclers) cycler->stop();
  for (auto& bouncer : bouncers) bouncer->stopping = true;
  auto kept = pairAcceptor->kept();
  for (auto& [bouncer, socket] : kept) bouncer->stopping = true;
  watchProgress(
      [&] {
        for (auto& cycler : cyclers) {
          if (!cycler->idle()) return false;
        }
        return true;
      },
      60s, "while stopping");

  // Every churned connection ended on the server side too.
  watchProgress([&] { return churnAcceptor->open() == 0; }, 60s, "while the server side ends");
  EXPECT_EQ(churnAcceptor->open(), 0u);
  for (auto& cycler : cyclers) EXPECT_GT(cycler->cycles(), 0u);
  for (auto& bouncer : bouncers) EXPECT_GT(bouncer->rounds.load(), 0u);
  for (auto& client : pairClients) client->disconnect();
  for (auto& [bouncer, socket] : kept) socket->disconnect();
  churnListener->disconnect();
  pairListener->disconnect();
  std::printf("churn: %llu steps\n", static_cast<unsigned long long>(progress.steps()));
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
