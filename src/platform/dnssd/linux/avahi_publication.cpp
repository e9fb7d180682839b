#include "platform/dnssd/linux/avahi_publication.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include "platform/dnssd/linux/avahi_names.h"
#include "platform/dnssd/linux/avahi_session.h"

namespace vistrelle::dnssd {

namespace {
// Renames in a row before giving up: "name #2" ... "name #100".
constexpr int kMaxRenames = 100;
}  // namespace

AvahiPublication::AvahiPublication(std::shared_ptr<AvahiSession> session,
                                   DnsSdRegistration registration, DnsSdPublishEvents events)
    : AvahiOperation(std::move(session)),
      registration_(std::move(registration)),
      events_(std::move(events)),
      name_(registration_.name),
      type_(avahiServiceType(registration_.type)) {}

AvahiPublication::~AvahiPublication() {
  // Freeing the group withdraws the announcement.
  if (group_) avahi_entry_group_free(group_);
}

void AvahiPublication::start() {
  DnsSdError error;
  AvahiClient* client = session_->client(&error);
  if (!client) {
    fail(error);
    return;
  }
  // Otherwise the client is still registering the host name and tells us
  // when it runs.
  if (session_->running()) addService(client);
}

void AvahiPublication::clientRunning(AvahiClient* client) {
  if (!failed_) addService(client);
}

void AvahiPublication::clientResetting() {
  if (group_) avahi_entry_group_reset(group_);
}

void AvahiPublication::clientLost(const DnsSdError& error) {
  group_ = nullptr;  // freed with the client
  fail(error);
}

void AvahiPublication::addService(AvahiClient* client) {
  if (!group_) {
    group_ = avahi_entry_group_new(client, &AvahiPublication::onGroupState, this);
    if (!group_) {
      fail(errorOf(avahi_client_errno(client)));
      return;
    }
  }
  if (!avahi_entry_group_is_empty(group_)) return;  // registered already
  if (name_.empty()) {
    const char* host = avahi_client_get_host_name(client);
    name_ = host ? host : "";
  }
  int result = AVAHI_OK;
  for (int renames = 0;; ++renames) {
    result = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                           static_cast<AvahiPublishFlags>(0), name_.c_str(),
                                           type_.c_str(), avahiDomain(registration_.domain),
                                           nullptr, registration_.port, nullptr);
    if (result != AVAHI_ERR_COLLISION || renames == kMaxRenames) break;
    rename();
  }
  if (result == AVAHI_OK) result = avahi_entry_group_commit(group_);
  if (result < 0) fail(errorOf(result));
}

void AvahiPublication::rename() {
  char* alternative = avahi_alternative_service_name(name_.c_str());
  if (alternative) {
    name_ = alternative;
    avahi_free(alternative);
  }
}

void AvahiPublication::onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state,
                                    void* userdata) {
  auto* self = static_cast<AvahiPublication*>(userdata);
  // Callbacks may come while avahi_entry_group_new runs, before group_ is set.
  if (!self->group_) self->group_ = group;
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      self->report([name = self->name_](AvahiOperation& operation) {
        auto& publication = static_cast<AvahiPublication&>(operation);
        if (!publication.failed_ && publication.events_.published)
          publication.events_.published(name);
      });
      break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
      // Another host answers for the name: take the next one.
      self->rename();
      avahi_entry_group_reset(group);
      self->addService(avahi_entry_group_get_client(group));
      break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
      self->fail(errorOf(avahi_client_errno(avahi_entry_group_get_client(group))));
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

void AvahiPublication::reportFailure(const DnsSdError& error) {
  if (events_.failed) events_.failed(error);
}

}  // namespace vistrelle::dnssd
