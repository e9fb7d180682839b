#include "platform/process/single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/dispatch/io_source.h"

namespace vistrelle {

namespace {

// The abstract address: a NUL, then the name (no terminator: the length says
// where it ends).
socklen_t abstractAddress(const std::string& name, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

std::string errorText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// The user of the process at the other end of a connected socket.
std::optional<uid_t> peerUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
  return credentials.uid;
}

dispatch::UniqueFd packetSocket() {
  return dispatch::UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

}  // namespace

// The serving side: the listening source and the sources of the clients
// that have not said what they want yet.  Lives as long as the sources'
// handlers may run.
struct SingleInstance::Server {
  static constexpr size_t kMaxClients = 16;

  dispatch::ExecutorPtr queue;
  dispatch::Reactor* reactor = nullptr;
  std::function<void()> onReopen;
  std::mutex mutex;
  dispatch::IoSourcePtr listening;
  std::set<dispatch::IoSourcePtr> clients;
  bool stopped = false;

  void accept(int listener, const std::shared_ptr<Server>& self) {
    while (true) {
      dispatch::UniqueFd client(
          ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!client) return;  // EAGAIN, or the peer gave up meanwhile
      // Any user can reach an abstract name: only our own user's launches
      // are heard, and only a few at a time.
      if (peerUser(client.get()) != ::getuid()) continue;
      {
        std::lock_guard lock(mutex);
        if (clients.size() >= kMaxClients) continue;
      }
      const int fd = client.get();
      dispatch::IoSourcePtr source = reactor->makeReadSource(fd, queue);
      std::weak_ptr<Server> weak = self;
      std::weak_ptr<dispatch::IoSource> weakSource = source;
      source->setEventHandler([weak, weakSource, fd] {
        auto server = weak.lock();
        auto me = weakSource.lock();
        if (!server || !me) return;
        char message[32];
        const ssize_t n = ::recv(fd, message, sizeof message, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n == static_cast<ssize_t>(std::strlen(kReopen)) &&
            std::memcmp(message, kReopen, static_cast<size_t>(n)) == 0) {
          if (server->onReopen) server->onReopen();
          ::send(fd, kAcknowledged, std::strlen(kAcknowledged), MSG_NOSIGNAL);
        }
        // One request per connection; anything else ends it too.
        server->drop(me);
      });
      // The descriptor is closed once no handler can run any more.
      auto owned = std::make_shared<dispatch::UniqueFd>(std::move(client));
      source->setCancelHandler([owned] { owned->reset(); });
      {
        std::lock_guard lock(mutex);
        if (stopped) {
          source->cancel();
          continue;
        }
        clients.insert(source);
      }
      source->resume();
    }
  }

  void drop(const dispatch::IoSourcePtr& source) {
    {
      std::lock_guard lock(mutex);
      clients.erase(source);
    }
    source->cancel();
  }

  void stop() {
    std::set<dispatch::IoSourcePtr> left;
    dispatch::IoSourcePtr listener;
    {
      std::lock_guard lock(mutex);
      stopped = true;
      left.swap(clients);
      listener = std::move(listening);
    }
    if (listener) listener->cancel();
    for (const auto& source : left) source->cancel();
  }
};

std::string SingleInstance::nameForUser() {
  const char* override = std::getenv("VISTRELLE_INSTANCE_NAME");
  if (override != nullptr && *override != '\0') return override;
  return "vistrelle-" + std::to_string(::getuid());
}

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->stop();
}

SingleInstance::Claim SingleInstance::claim() {
  dispatch::UniqueFd socket = packetSocket();
  if (!socket) {
    failure_ = errorText("socket");
    return Claim::Failed;
  }
  sockaddr_un address;
  const socklen_t length = abstractAddress(name_, address);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    if (errno == EADDRINUSE) return Claim::Taken;
    failure_ = errorText("bind");
    return Claim::Failed;
  }
  if (::listen(socket.get(), 8) != 0) {
    failure_ = errorText("listen");
    return Claim::Failed;
  }
  listener_ = std::move(socket);
  return Claim::First;
}

bool SingleInstance::askFirstToReopen(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
  };
  sockaddr_un address;
  const socklen_t length = abstractAddress(name_, address);
  dispatch::UniqueFd socket;
  // The first process binds and then listens: a launch between the two is
  // refused for that moment.
  while (true) {
    socket = packetSocket();
    if (!socket) {
      failure_ = errorText("socket");
      return false;
    }
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) break;
    if (errno == EINPROGRESS || errno == EAGAIN) break;
    if (errno != ECONNREFUSED || left().count() <= 0) {
      failure_ = errorText("connect");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pollfd writable{socket.get(), POLLOUT, 0};
  if (::poll(&writable, 1, static_cast<int>(std::max<int64_t>(0, left().count()))) != 1) {
    failure_ = "no connection within " + std::to_string(limit.count()) + " ms";
    return false;
  }
  if (peerUser(socket.get()) != ::getuid()) {
    heldByAnotherUser_ = true;
    failure_ = "the name \"" + name_ + "\" is held by another user's process";
    return false;
  }
  if (::send(socket.get(), kReopen, std::strlen(kReopen), MSG_NOSIGNAL) < 0) {
    failure_ = errorText("send");
    return false;
  }
  while (true) {
    pollfd readable{socket.get(), POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(std::max<int64_t>(0, left().count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) {
      failure_ = "no answer within " + std::to_string(limit.count()) + " ms";
      return false;
    }
    char answer[8];
    const ssize_t n = ::recv(socket.get(), answer, sizeof answer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n == static_cast<ssize_t>(std::strlen(kAcknowledged)) &&
        std::memcmp(answer, kAcknowledged, static_cast<size_t>(n)) == 0) {
      return true;
    }
    failure_ = "the running instance closed the connection";
    return false;
  }
}

void SingleInstance::serve(dispatch::Reactor& reactor, dispatch::ExecutorPtr queue,
                           std::function<void()> onReopen) {
  if (!listener_ || server_) return;
  auto server = std::make_shared<Server>();
  server->queue = std::move(queue);
  server->reactor = &reactor;
  server->onReopen = std::move(onReopen);
  const int fd = listener_.get();
  auto owned = std::make_shared<dispatch::UniqueFd>(std::move(listener_));
  server->listening = reactor.makeReadSource(fd, server->queue);
  std::weak_ptr<Server> weak = server;
  server->listening->setEventHandler([weak, fd] {
    if (auto me = weak.lock()) me->accept(fd, me);
  });
  server->listening->setCancelHandler([owned] { owned->reset(); });
  server->listening->resume();
  server_ = std::move(server);
}

}  // namespace vistrelle
