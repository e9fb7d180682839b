#pragma once

#include <QPixmap>
#include <QPushButton>
#include <string>

namespace vistrelle::ui {

// The calibration button: images only, named through the in-app language
// ("jiaozhengpingmu", its hover and its pressed image).  The pointer entering
// an enabled button shows the hover image; leaving always puts the normal and
// pressed images back.
class OrvexCustomButton : public QPushButton {
  Q_OBJECT

 public:
  explicit OrvexCustomButton(QWidget* parent = nullptr);

  // The localisation keys of the images shown now.
  const std::string& imageKey() const { return imageKey_; }
  const std::string& alternateImageKey() const { return alternateImageKey_; }

  QSize sizeHint() const override;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void setImages(std::string image, std::string alternate);

  std::string imageKey_;
  std::string alternateImageKey_;
  QPixmap image_;
  QPixmap alternateImage_;
};

}  // namespace vistrelle::ui
