#include "bench/platform/raw_epoll_handoff.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vistrelle::bench {

namespace {
constexpr uint32_t kQuitToken = 2;

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}
}  // namespace

RawEpollHandoff::RawEpollHandoff() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    throwErrno("socketpair");
  }
  ends_[0].reset(fds[0]);
  ends_[1].reset(fds[1]);
  epoll_.reset(epoll_create1(EPOLL_CLOEXEC));
  quit_.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!epoll_ || !quit_) throwErrno("epoll_create1/eventfd");
  for (uint32_t i = 0; i < 2; ++i) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.u32 = i;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, ends_[i].get(), &ev) != 0) throwErrno("epoll_ctl");
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u32 = kQuitToken;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, quit_.get(), &ev) != 0) throwErrno("epoll_ctl");
  poller_ = std::thread([this] { poll(); });
}

RawEpollHandoff::~RawEpollHandoff() {
  uint64_t one = 1;
  (void)!::write(quit_.get(), &one, sizeof one);
  poller_.join();
}

void RawEpollHandoff::poll() {
  epoll_event ready[3];
  for (;;) {
    int n = epoll_wait(epoll_.get(), ready, 3, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    for (int i = 0; i < n; ++i) {
      const uint32_t token = ready[i].data.u32;
      if (token == kQuitToken) return;
      worker_.post([this, token] { handle(token); });
    }
  }
}

void RawEpollHandoff::arm(uint32_t end) {
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLONESHOT;
  ev.data.u32 = end;
  epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, ends_[end].get(), &ev);
}

void RawEpollHandoff::handle(uint32_t end) {
  char byte;
  const int fd = ends_[end].get();
  if (::read(fd, &byte, 1) == 1) {
    const int64_t count = handled_.fetch_add(1, std::memory_order_acq_rel) + 1;
    // The last event sends nothing on, so the next run starts clean.
    if (count < target_.load(std::memory_order_relaxed)) {
      (void)!::write(fd, &byte, 1);
    } else {
      handled_.notify_all();
    }
  }
  arm(end);
}

void RawEpollHandoff::run(int64_t events) {
  target_.store(events, std::memory_order_relaxed);
  handled_.store(0, std::memory_order_release);
  const char byte = 1;
  if (::write(ends_[0].get(), &byte, 1) != 1) throwErrno("write");
  for (int64_t seen = handled_.load(std::memory_order_acquire); seen < events;
       seen = handled_.load(std::memory_order_acquire)) {
    handled_.wait(seen, std::memory_order_acquire);
  }
}

}  // namespace vistrelle::bench
