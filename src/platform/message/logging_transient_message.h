#pragma once

#include <functional>
#include <string>

#include "platform/message/transient_message.h"

namespace vistrelle::message {

// The default transient message: the text goes to a log sink.  The platform
// layer has no log of its own, so the layer above routes the sink to its
// text log by installing one of these; the default sink is standard error.
class LoggingTransientMessage final : public TransientMessage {
 public:
  using Sink = std::function<void(const std::string& line)>;

  explicit LoggingTransientMessage(Sink sink = {});

  void present(const std::string& text) override;

 private:
  Sink sink_;
};

}  // namespace vistrelle::message
