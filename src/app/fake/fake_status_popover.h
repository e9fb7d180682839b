#pragma once

#include <string>
#include <vector>

#include "app/status_popover.h"

namespace vistrelle {

// Records what the application asks of its popover, in order, for tests
// ("content:exitView", "show", "close").
class FakeStatusPopover final : public StatusPopover {
 public:
  void setContent(PopoverContent content) override;
  PopoverContent content() const override { return content_; }
  bool hasContent() const override { return content_ != PopoverContent::none; }
  void show() override;
  void close() override;
  bool isShown() const override { return shown_; }

  const std::vector<std::string>& calls() const { return calls_; }
  // How many fresh exit views have been asked for.
  int exitViewsMade() const { return exitViewsMade_; }
  // The user clicking elsewhere.
  void clickOutside() { shown_ = false; }

 private:
  PopoverContent content_ = PopoverContent::none;
  bool shown_ = false;
  int exitViewsMade_ = 0;
  std::vector<std::string> calls_;
};

const char* toString(PopoverContent content);

}  // namespace vistrelle
