#pragma once

#include <string>

namespace vistrelle {

// The home content's views that its controller shows, hides or colours.
enum class HomeOutlet {
  root,
  titleView,
  wiredBgView,
  connectBgView,
  connectingLabel,
  connectErrorLabel,
  connectErrorTipsLabel,
  imageView,
  tipsLabel0,
  tipsLabel,
};

// What the home controller draws on: the main window's first content.
class HomeView {
 public:
  virtual ~HomeView() = default;
  virtual void setOutletHidden(HomeOutlet outlet, bool hidden) = 0;
  // An opaque background from a hex text ("#ECEDEE").
  virtual void setBackgroundColor(HomeOutlet outlet, const std::string& hex) = 0;
  virtual void setTipsText(const std::string& text) = 0;
};

}  // namespace vistrelle
