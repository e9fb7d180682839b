#pragma once

#include "platform/statusbar/status_item.h"

namespace vistrelle {

// Records what the application asked of its status item and lets a test click
// it or pick a menu entry.
class FakeStatusItem final : public StatusItem {
 public:
  explicit FakeStatusItem(bool trayPresent = true) : available_(trayPresent) {}

  bool isAvailable() const override { return available_ && shown_; }
  void setImage(const std::string& name) override { image_ = name; }
  void setToolTip(const std::string& text) override { toolTip_ = text; }
  void setMenu(std::vector<MenuEntry> entries) override { menu_ = std::move(entries); }
  void setClickHandler(std::function<void(Click)> handler) override {
    clickHandler_ = std::move(handler);
  }
  void show() override { shown_ = true; }

  const std::string& image() const { return image_; }
  const std::string& toolTip() const { return toolTip_; }
  const std::vector<MenuEntry>& menu() const { return menu_; }
  bool shown() const { return shown_; }
  // A tray host appearing or going away.
  void setTrayPresent(bool present) { available_ = present; }
  // Picks the menu entry with this title; false when there is none.
  bool choose(const std::string& title);
  void click(Click click);

 private:
  bool available_;
  std::string image_;
  std::string toolTip_;
  std::vector<MenuEntry> menu_;
  std::function<void(Click)> clickHandler_;
  bool shown_ = false;
};

}  // namespace vistrelle
