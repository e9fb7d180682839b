#include "bench/platform/raw_epoll_ping_pong.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vistrelle::bench {

namespace {
[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}
}  // namespace

RawEpollPingPong::RawEpollPingPong() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    throwErrno("socketpair");
  }
  ends_[0].reset(fds[0]);
  ends_[1].reset(fds[1]);
  epoll_.reset(epoll_create1(EPOLL_CLOEXEC));
  if (!epoll_) throwErrno("epoll_create1");
  for (uint32_t i = 0; i < 2; ++i) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = i;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, ends_[i].get(), &ev) != 0) throwErrno("epoll_ctl");
  }
}

void RawEpollPingPong::run(int64_t events) {
  char byte = 1;
  if (::write(ends_[0].get(), &byte, 1) != 1) throwErrno("write");
  int64_t handled = 0;
  epoll_event ready[2];
  while (handled < events) {
    int n = epoll_wait(epoll_.get(), ready, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno("epoll_wait");
    }
    for (int i = 0; i < n && handled < events; ++i) {
      const int fd = ends_[ready[i].data.u32].get();
      if (::read(fd, &byte, 1) != 1) continue;
      // The last event sends nothing on, so the next run starts clean.
      if (++handled < events && ::write(fd, &byte, 1) != 1) throwErrno("write");
    }
  }
}

}  // namespace vistrelle::bench
