#pragma once

#include "platform/statusbar/status_item.h"

namespace vistrelle {

// Records what the application asked of its status item and lets a test click
// it or place its icon.
class FakeStatusItem final : public StatusItem {
 public:
  explicit FakeStatusItem(bool trayPresent = true) : available_(trayPresent) {}

  bool isAvailable() const override { return available_ && shown_; }
  void setImage(const std::string& name) override { image_ = name; }
  void setToolTip(const std::string& text) override { toolTip_ = text; }
  void setClickHandler(std::function<void(Click)> handler) override {
    clickHandler_ = std::move(handler);
  }
  void show() override { shown_ = true; }
  std::optional<Geometry> iconGeometry() const override { return iconGeometry_; }

  const std::string& image() const { return image_; }
  const std::string& toolTip() const { return toolTip_; }
  bool shown() const { return shown_; }
  // A tray host appearing or going away.
  void setTrayPresent(bool present) { available_ = present; }
  // Where the tray host puts the icon (none: it does not say).
  void setIconGeometry(std::optional<Geometry> geometry) { iconGeometry_ = geometry; }
  void click(Click click);

 private:
  bool available_;
  std::string image_;
  std::string toolTip_;
  std::function<void(Click)> clickHandler_;
  std::optional<Geometry> iconGeometry_;
  bool shown_ = false;
};

}  // namespace vistrelle
