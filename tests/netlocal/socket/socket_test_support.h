#pragma once

// The socket tests' helpers, and one runtime for the whole test program.

#include "netlocal/socket/socket_test_helpers.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::netlocal::testing {

// One runtime for the whole test program (only one may exist at a time).
class RuntimeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    runtime_ = std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                                   dispatch::Runtime::Options{4});
  }
  void TearDown() override { runtime_.reset(); }

 private:
  std::unique_ptr<dispatch::Runtime> runtime_;
};

inline ::testing::Environment* const kRuntimeEnvironment =
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

}  // namespace vistrelle::netlocal::testing
