#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/executor.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle {

// One running application per user: the first launch holds a name in the
// abstract socket namespace (it goes with the process, whatever way the
// process ends), and a later launch asks it to bring its window to the front
// instead of running a second application on the same settings, glasses and
// port.
//
//   SingleInstance instance(SingleInstance::nameForUser());
//   if (instance.claim() == SingleInstance::Claim::Taken) {
//     return instance.askFirstToReopen() ? 0 : 1;
//   }
//   instance.serve(reactor, mainQueue, [] { /* window to the front */ });
class SingleInstance {
 public:
  enum class Claim {
    First,   // this process holds the name
    Taken,   // another process holds it
    Failed,  // no socket could be made: run without the guard (see failure())
  };

  static constexpr const char* kReopen = "reopen";
  static constexpr const char* kAcknowledged = "ok";

  // "vistrelle-<uid>"; VISTRELLE_INSTANCE_NAME, when set and not empty,
  // replaces it (tests and simulated runs that run beside the user's own).
  static std::string nameForUser();

  explicit SingleInstance(std::string name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  Claim claim();
  const std::string& failure() const { return failure_; }

  // After Taken: sends "reopen" to the first process and waits, at most
  // `limit`, for its answer.  True once it answered.
  bool askFirstToReopen(std::chrono::milliseconds limit = std::chrono::seconds(2));
  // The name is held by a process of another user (any user can take an
  // abstract name): it says nothing about our own application.
  bool heldByAnotherUser() const { return heldByAnotherUser_; }

  // After First: each "reopen" from a later launch runs `onReopen` on
  // `queue` and is answered.  Until this object goes.
  void serve(dispatch::Reactor& reactor, dispatch::ExecutorPtr queue,
             std::function<void()> onReopen);

  struct Server;

 private:
  const std::string name_;
  dispatch::UniqueFd listener_;
  std::string failure_;
  bool heldByAnotherUser_ = false;
  std::shared_ptr<Server> server_;
};

}  // namespace vistrelle
