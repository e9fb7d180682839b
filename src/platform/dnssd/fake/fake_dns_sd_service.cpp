#include "platform/dnssd/fake/fake_dns_sd_service.h"

namespace vistrelle::dnssd {

struct FakeDnsSdService::State {
  mutable std::mutex mutex;
  uint64_t nextId = 1;
  std::map<uint64_t, Entry> entries;
  std::vector<Publication> publications;
  std::vector<Browse> browses;
  std::vector<Resolve> resolves;

  void stopped(uint64_t id) {
    std::lock_guard lock(mutex);
    entries.at(id).running = false;
    for (auto& item : publications)
      if (item.id == id) item.running = false;
    for (auto& item : browses)
      if (item.id == id) item.running = false;
    for (auto& item : resolves)
      if (item.id == id) item.running = false;
  }
};

class FakeDnsSdService::Handle final : public DnsSdOperation {
 public:
  Handle(std::shared_ptr<State> state, uint64_t id) : state_(std::move(state)), id_(id) {}
  ~Handle() override { state_->stopped(id_); }

 private:
  std::shared_ptr<State> state_;
  uint64_t id_;
};

FakeDnsSdService::FakeDnsSdService(dispatch::ExecutorPtr queue)
    : queue_(std::move(queue)), state_(std::make_shared<State>()) {}

std::unique_ptr<DnsSdOperation> FakeDnsSdService::publish(DnsSdRegistration registration,
                                                          DnsSdPublishEvents events) {
  std::lock_guard lock(state_->mutex);
  const uint64_t id = state_->nextId++;
  state_->entries[id].publish = std::move(events);
  state_->publications.push_back({id, std::move(registration), true});
  return std::make_unique<Handle>(state_, id);
}

std::unique_ptr<DnsSdOperation> FakeDnsSdService::browse(std::string type, std::string domain,
                                                         DnsSdBrowseEvents events) {
  std::lock_guard lock(state_->mutex);
  const uint64_t id = state_->nextId++;
  state_->entries[id].browse = std::move(events);
  state_->browses.push_back({id, std::move(type), std::move(domain), true});
  return std::make_unique<Handle>(state_, id);
}

std::unique_ptr<DnsSdOperation> FakeDnsSdService::resolve(DnsSdServiceRecord service,
                                                          DnsSdResolveEvents events) {
  std::lock_guard lock(state_->mutex);
  const uint64_t id = state_->nextId++;
  state_->entries[id].resolve = std::move(events);
  state_->resolves.push_back({id, std::move(service), true});
  return std::make_unique<Handle>(state_, id);
}

std::vector<FakeDnsSdService::Publication> FakeDnsSdService::publications() const {
  std::lock_guard lock(state_->mutex);
  return state_->publications;
}

std::vector<FakeDnsSdService::Browse> FakeDnsSdService::browses() const {
  std::lock_guard lock(state_->mutex);
  return state_->browses;
}

std::vector<FakeDnsSdService::Resolve> FakeDnsSdService::resolves() const {
  std::lock_guard lock(state_->mutex);
  return state_->resolves;
}

std::optional<FakeDnsSdService::Publication> FakeDnsSdService::runningPublication() const {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->publications.rbegin(); it != state_->publications.rend(); ++it)
    if (it->running) return *it;
  return std::nullopt;
}

template <typename Call>
void FakeDnsSdService::deliver(uint64_t id, Call call) {
  queue_->post([state = state_, id, call = std::move(call)] {
    Entry entry;
    {
      std::lock_guard lock(state->mutex);
      auto found = state->entries.find(id);
      if (found == state->entries.end() || !found->second.running) return;
      entry = found->second;
    }
    call(entry);
  });
}

void FakeDnsSdService::publishSucceeds(uint64_t id, std::string name) {
  deliver(id, [name = std::move(name)](const Entry& entry) {
    if (entry.publish.published) entry.publish.published(name);
  });
}

void FakeDnsSdService::publishFails(uint64_t id, DnsSdError error) {
  deliver(id, [error = std::move(error)](const Entry& entry) {
    if (entry.publish.failed) entry.publish.failed(error);
  });
}

void FakeDnsSdService::serviceAppears(DnsSdServiceRecord service, bool moreComing) {
  for (const Browse& search : browses()) {
    deliver(search.id, [service, moreComing](const Entry& entry) {
      if (entry.browse.added) entry.browse.added(service, moreComing);
    });
  }
}

void FakeDnsSdService::serviceDisappears(DnsSdServiceRecord service, bool moreComing) {
  for (const Browse& search : browses()) {
    deliver(search.id, [service, moreComing](const Entry& entry) {
      if (entry.browse.removed) entry.browse.removed(service, moreComing);
    });
  }
}

void FakeDnsSdService::resolveSucceeds(uint64_t id, std::string host, uint16_t port) {
  deliver(id, [host = std::move(host), port](const Entry& entry) {
    if (entry.resolve.resolved) entry.resolve.resolved(host, port);
  });
}

void FakeDnsSdService::resolveFails(uint64_t id, DnsSdError error) {
  deliver(id, [error = std::move(error)](const Entry& entry) {
    if (entry.resolve.failed) entry.resolve.failed(error);
  });
}

}  // namespace vistrelle::dnssd
