#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>

#include "app/home_view.h"
#include "app/orvex_home_new_view_controller.h"

class QLabel;

namespace vistrelle::ui {

class QtDisplayEventSource;

// The main window's first content: the title strip, the glasses picture, the
// tip to plug them in, and the connecting and error texts over it.  The logic
// is OrvexHomeNewViewController's; its view loads the first time the widget
// shows.  Where the environment gives none, display changes come from Qt's
// screen signals and the pointer moves with QCursor.
class OrvexHomeNewView final : public QWidget, public HomeView {
  Q_OBJECT

 public:
  explicit OrvexHomeNewView(OrvexHomeNewViewController::Environment environment,
                            QWidget* parent = nullptr);
  ~OrvexHomeNewView() override;

  OrvexHomeNewViewController& controller() { return *controller_; }

  void setOutletHidden(HomeOutlet outlet, bool hidden) override;
  void setBackgroundColor(HomeOutlet outlet, const std::string& hex) override;
  void setTipsText(const std::string& text) override;

  QWidget* outlet(HomeOutlet outlet) const;
  QLabel* label(HomeOutlet outlet) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::map<HomeOutlet, QWidget*> outlets_;
  QPointer<QtDisplayEventSource> displayEvents_;
  std::unique_ptr<OrvexHomeNewViewController> controller_;
};

}  // namespace vistrelle::ui
