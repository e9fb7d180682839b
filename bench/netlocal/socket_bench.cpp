// Throughput, latency and cost of the asynchronous socket, each next to a raw
// epoll loop doing the same work in the same run, so the ratios hold on any
// machine.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "netlocal/socket/gcd_async_socket.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal {
namespace {

using Clock = std::chrono::steady_clock;
using dispatch::UniqueFd;

constexpr size_t kLineLength = 56;

std::string line() {
  std::string text = "{\"type\":1,\"value\":\"";
  text.resize(kLineLength - 4, 'x');
  return text + "\"}\r\n";
}

uint16_t portOf(int fd) {
  sockaddr_in addr{};
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  return ntohs(addr.sin_port);
}

UniqueFd listenRaw() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(fd.get(), 1024);
  return fd;
}

UniqueFd connectRaw(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::abort();
  const int on = 1;
  setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

void sendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) std::abort();
    data += n;
    length -= static_cast<size_t>(n);
  }
}

// The raw baseline: one thread, epoll, non-blocking reads, lines found with memchr.
size_t rawReadLines(int fd, size_t lines) {
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  UniqueFd epoll(epoll_create1(EPOLL_CLOEXEC));
  epoll_event ev{};
  ev.events = EPOLLIN;
  epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &ev);
  std::vector<char> buffer(64 << 10);
  size_t seen = 0, carried = 0;
  while (seen < lines) {
    epoll_event out{};
    epoll_wait(epoll.get(), &out, 1, -1);
    for (;;) {
      const ssize_t n = ::read(fd, buffer.data() + carried, buffer.size() - carried);
      if (n <= 0) break;
      const char* p = buffer.data();
      const char* end = p + carried + n;
      while (const void* hit = std::memchr(p, '\n', static_cast<size_t>(end - p))) {
        ++seen;
        p = static_cast<const char*>(hit) + 1;
      }
      carried = static_cast<size_t>(end - p);
      std::memmove(buffer.data(), p, carried);
    }
  }
  return seen;
}

// Reads CR LF lines on our socket and signals when `target` arrived.
class LineCounter : public GCDAsyncSocketDelegate {
 public:
  std::atomic<size_t> target{0};
  std::atomic<size_t> count{0};
  std::promise<void> done;
  std::vector<GCDAsyncSocketPtr> accepted;
  bool echo = false;
  // Reads kept queued ahead of the bytes (1: one line at a time).
  int depth = 1;

  void socketDidAcceptNewSocket(const GCDAsyncSocketPtr&,
                                const GCDAsyncSocketPtr& socket) override {
    accepted.push_back(socket);
    for (int i = 0; i < depth; ++i) socket->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);
    // Taken out before it is kept: the waiting thread may set up the next
    // one as soon as this one is set.
    if (acceptedPromise) {
      std::promise<void> accepted = std::move(*acceptedPromise);
      acceptedPromise.reset();
      accepted.set_value();
    }
  }
  void socketDidReadData(const GCDAsyncSocketPtr& socket, const SocketData& data, long) override {
    if (echo) socket->writeData(data.bytes(), -1, 0);
    socket->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);
    if (++count == target.load()) done.set_value();
  }
  std::optional<std::promise<void>> acceptedPromise;
};

struct OurServer {
  std::shared_ptr<LineCounter> delegate = std::make_shared<LineCounter>();
  // As the companion server has it: delegate calls on the main queue.
  dispatch::ExecutorPtr queue = dispatch::mainQueue();
  GCDAsyncSocketPtr listener = GCDAsyncSocket::create(delegate, queue);
  OurServer() {
    listener->setIPv6Enabled(false);
    if (!listener->acceptOnInterface("127.0.0.1", 0)) std::abort();
  }
  UniqueFd connect() {
    delegate->acceptedPromise.emplace();
    auto accepted = delegate->acceptedPromise->get_future();
    UniqueFd fd = connectRaw(listener->localPort4());
    accepted.wait();
    return fd;
  }
  ~OurServer() {
    queue->sync([this] { delegate->accepted.clear(); });
  }
};

void senderOneWritePerLine(int fd, size_t lines) {
  const std::string text = line();
  for (size_t i = 0; i < lines; ++i) sendAll(fd, text.data(), text.size());
}

void senderBatched(int fd, size_t lines) {
  std::string batch;
  for (int i = 0; i < 1024; ++i) batch += line();
  for (size_t sent = 0; sent < lines; sent += 1024) sendAll(fd, batch.data(), batch.size());
}

template <typename Sender>
double oursLinesPerSecond(size_t lines, Sender sender, int depth) {
  OurServer server;
  server.delegate->depth = depth;
  server.delegate->target = lines;
  auto done = server.delegate->done.get_future();
  UniqueFd client = server.connect();
  const auto start = Clock::now();
  std::thread writer([&] { sender(client.get(), lines); });
  done.wait();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  return static_cast<double>(lines) / seconds;
}

template <typename Sender>
double rawLinesPerSecond(size_t lines, Sender sender) {
  UniqueFd listener = listenRaw();
  UniqueFd client = connectRaw(portOf(listener.get()));
  UniqueFd server(::accept(listener.get(), nullptr, nullptr));
  const auto start = Clock::now();
  std::thread writer([&] { sender(client.get(), lines); });
  rawReadLines(server.get(), lines);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  return static_cast<double>(lines) / seconds;
}

template <typename Sender>
void linesBenchmark(benchmark::State& state, size_t lines, Sender sender, int depth) {
  double ours = 0, raw = 0;
  for (auto _ : state) {
    raw += rawLinesPerSecond(lines, sender);
    ours += oursLinesPerSecond(lines, sender, depth);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_lines_per_s"] = ours / n;
  state.counters["raw_lines_per_s"] = raw / n;
  state.counters["ratio_to_raw"] = ours / raw;
}

void BM_OneWritePerMessage(benchmark::State& state) {
  linesBenchmark(state, 200000, senderOneWritePerLine, 1);
}
BENCHMARK(BM_OneWritePerMessage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_BatchedArrivals(benchmark::State& state) {
  linesBenchmark(state, 1 << 20, senderBatched, static_cast<int>(state.range(0)));
}
// One read queued at a time (as the companion server does), and 64 queued ahead.
BENCHMARK(BM_BatchedArrivals)
    ->Arg(1)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Round trips of one line: `echoFd` is the client end of an echoing server.
std::vector<double> roundTrips(int fd, size_t count) {
  const std::string text = line();
  std::vector<double> micros;
  micros.reserve(count);
  char reply[kLineLength];
  for (size_t i = 0; i < count; ++i) {
    const auto start = Clock::now();
    sendAll(fd, text.data(), text.size());
    size_t got = 0;
    while (got < kLineLength) {
      const ssize_t n = ::read(fd, reply + got, kLineLength - got);
      if (n <= 0) std::abort();
      got += static_cast<size_t>(n);
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  return micros;
}

void BM_EchoRoundTrip(benchmark::State& state) {
  constexpr size_t kTrips = 5000;
  std::vector<double> ours, raw;
  for (auto _ : state) {
    {
      UniqueFd listener = listenRaw();
      UniqueFd client = connectRaw(portOf(listener.get()));
      UniqueFd server(::accept(listener.get(), nullptr, nullptr));
      std::thread echo([fd = server.get()] {
        UniqueFd epoll(epoll_create1(EPOLL_CLOEXEC));
        epoll_event ev{};
        ev.events = EPOLLIN;
        epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &ev);
        char buffer[4096];
        for (;;) {
          epoll_event out{};
          epoll_wait(epoll.get(), &out, 1, -1);
          const ssize_t n = ::read(fd, buffer, sizeof buffer);
          if (n <= 0) return;
          sendAll(fd, buffer, static_cast<size_t>(n));
        }
      });
      auto trips = roundTrips(client.get(), kTrips);
      raw.insert(raw.end(), trips.begin(), trips.end());
      ::shutdown(client.get(), SHUT_WR);
      echo.join();
    }
    {
      OurServer server;
      server.delegate->echo = true;
      server.delegate->target = SIZE_MAX;
      UniqueFd client = server.connect();
      auto trips = roundTrips(client.get(), kTrips);
      ours.insert(ours.end(), trips.begin(), trips.end());
    }
  }
  std::sort(ours.begin(), ours.end());
  std::sort(raw.begin(), raw.end());
  auto at = [](const std::vector<double>& v, double q) {
    return v[static_cast<size_t>(q * (v.size() - 1))];
  };
  state.counters["ours_p50_us"] = at(ours, 0.5);
  state.counters["ours_p99_us"] = at(ours, 0.99);
  state.counters["raw_p50_us"] = at(raw, 0.5);
  state.counters["raw_p99_us"] = at(raw, 0.99);
  state.counters["p50_ratio_to_raw"] = at(ours, 0.5) / at(raw, 0.5);
}
BENCHMARK(BM_EchoRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

class ConnectCounter : public GCDAsyncSocketDelegate {
 public:
  std::mutex mutex;
  std::condition_variable changed;
  size_t connects = 0;
  void socketDidConnectToHost(const GCDAsyncSocketPtr&, const std::string&, uint16_t) override {
    std::lock_guard lock(mutex);
    ++connects;
    changed.notify_all();
  }
  void waitFor(size_t n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return connects >= n; });
  }
};

void BM_ConnectAcceptClose(benchmark::State& state) {
  constexpr size_t kCycles = 2000;
  double ours = 0, raw = 0;
  for (auto _ : state) {
    {
      UniqueFd listener = listenRaw();
      const auto start = Clock::now();
      for (size_t i = 0; i < kCycles; ++i) {
        UniqueFd client = connectRaw(portOf(listener.get()));
        UniqueFd server(::accept(listener.get(), nullptr, nullptr));
      }
      raw += kCycles / std::chrono::duration<double>(Clock::now() - start).count();
    }
    {
      OurServer server;  // accepts and keeps nothing beyond the close
      auto counter = std::make_shared<ConnectCounter>();
      auto queue = dispatch::makeSerialQueue("bench.connect");
      const uint16_t port = server.listener->localPort4();
      const auto start = Clock::now();
      for (size_t i = 0; i < kCycles; ++i) {
        auto socket = GCDAsyncSocket::create(counter, queue);
        socket->connectToHost("127.0.0.1", port);
        counter->waitFor(i + 1);
        socket->disconnect();
        server.queue->post([delegate = server.delegate] { delegate->accepted.clear(); });
      }
      ours += kCycles / std::chrono::duration<double>(Clock::now() - start).count();
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_cycles_per_s"] = ours / n;
  state.counters["raw_cycles_per_s"] = raw / n;
  state.counters["ratio_to_raw"] = ours / raw;
}
BENCHMARK(BM_ConnectAcceptClose)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

void BM_IdleConnections(benchmark::State& state) {
  OurServer server;
  std::vector<UniqueFd> clients;
  for (int i = 0; i < 100; ++i) clients.push_back(server.connect());
  double fraction = 0;
  for (auto _ : state) {
    const double before = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    fraction = cpuSeconds() - before;
  }
  state.counters["idle_cpu_fraction_100_sockets"] = fraction;
}
BENCHMARK(BM_IdleConnections)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace vistrelle::netlocal

int main(int argc, char** argv) {
  auto mainLoop = std::make_shared<vistrelle::dispatch::EventLoop>();
  vistrelle::dispatch::Runtime runtime(mainLoop);
  // The main queue runs on a thread of its own; the benchmarks drive it from here.
  std::thread mainThread([&] { mainLoop->run(); });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  mainLoop->quit();
  mainThread.join();
  return 0;
}
