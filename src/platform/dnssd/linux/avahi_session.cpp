#include "platform/dnssd/linux/avahi_session.h"

#include <avahi-common/error.h>

#include "platform/dnssd/linux/avahi_operation.h"

namespace vistrelle::dnssd {

AvahiSession::AvahiSession(dispatch::ExecutorPtr queue, dispatch::Reactor& reactor)
    : queue_(queue), poll_(queue, reactor) {}

AvahiSession::~AvahiSession() {
  // Before the poll: freeing the client frees its watches and time-outs.
  if (client_) avahi_client_free(client_);
}

AvahiClient* AvahiSession::client(DnsSdError* error) {
  if (client_) return client_;
  int code = 0;
  connecting_ = true;
  client_ = avahi_client_new(poll_.api(), static_cast<AvahiClientFlags>(0),
                             &AvahiSession::onClientState, this, &code);
  connecting_ = false;
  if (!client_ && error) *error = DnsSdError{code, avahi_strerror(code)};
  return client_;
}

bool AvahiSession::running() const {
  return client_ && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING;
}

void AvahiSession::attach(const std::shared_ptr<AvahiOperation>& operation) {
  operations_.push_back(operation);
}

template <typename Call>
void AvahiSession::forEachOperation(Call call) {
  std::vector<std::shared_ptr<AvahiOperation>> live;
  std::erase_if(operations_, [&](const std::weak_ptr<AvahiOperation>& weak) {
    auto operation = weak.lock();
    if (operation) live.push_back(std::move(operation));
    return !operation;
  });
  for (const auto& operation : live) call(*operation);
}

void AvahiSession::onClientState(AvahiClient* client, AvahiClientState state, void* userdata) {
  auto* self = static_cast<AvahiSession*>(userdata);
  // While avahi_client_new runs, the operation asking for the client
  // registers itself once it has it.
  if (self->connecting_) return;
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      self->forEachOperation(
          [client](AvahiOperation& operation) { operation.clientRunning(client); });
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      self->forEachOperation([](AvahiOperation& operation) { operation.clientResetting(); });
      break;
    case AVAHI_CLIENT_FAILURE: {
      // Not freed from inside its own callback.
      const int error = avahi_client_errno(client);
      self->queue_->post([weak = self->weak_from_this(), client, error] {
        auto session = weak.lock();
        if (session && session->client_ == client) session->dropClient(error);
      });
      break;
    }
    case AVAHI_CLIENT_CONNECTING:
      break;
  }
}

void AvahiSession::dropClient(int error) {
  const DnsSdError lost{error, avahi_strerror(error)};
  forEachOperation([&lost](AvahiOperation& operation) { operation.clientLost(lost); });
  avahi_client_free(client_);
  client_ = nullptr;
}

}  // namespace vistrelle::dnssd
