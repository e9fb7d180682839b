// Toasts and the activity view on the virtual clock, measured against Qt's own
// font metrics.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPointer>
#include <QPushButton>
#include <climits>

#include "platform/message/transient_message.h"
#include "ui/activity_view.h"
#include "ui/color_from_hex.h"
#include "ui/fade_animations.h"
#include "ui/home_window.h"
#include "ui/light_palette.h"
#include "ui/progress_hud.h"
#include "ui/spinning_progress_indicator_layer.h"
#include "ui/toast.h"
#include "ui/toast_transient_message.h"
#include "ui/toast_view.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using ui::ToastView;

QSize textSize(const QString& text, int width = INT_MAX / 4) {
  return QFontMetrics(ui::systemFont(16))
      .boundingRect(QRect(0, 0, width, INT_MAX / 4), Qt::TextWordWrap, text)
      .size();
}

class Toasts : public ::testing::Test {
 protected:
  void SetUp() override {
    window = new ui::HomeWindow([] { return false; });
    content = new QWidget;
    content->setObjectName("homeContent");
    window->registerContent(WindowContent::home, content);
    uitest::showActive(window);
    ASSERT_EQ(QApplication::activeWindow(), window);
  }
  void TearDown() override {
    delete window;
    uitest::advance(3.0);  // every fade left over ends
  }
  QList<ToastView*> toastsOn(QWidget* parent) const {
    return parent->findChildren<ToastView*>(QString(), Qt::FindDirectChildrenOnly);
  }

  ui::HomeWindow* window = nullptr;
  QWidget* content = nullptr;
};

TEST_F(Toasts, BoxIsTheTextPlusPaddingCentredOverTheParentItCovers) {
  ToastView empty("");
  EXPECT_EQ(empty.labelSize(), QSize(0, 0));
  EXPECT_EQ(empty.size(), QSize(44, 28)) << "an empty message is padding only";
  empty.setParent(content);
  EXPECT_EQ(empty.boxRect(), QRectF(210 - 22, 310 - 14, 44, 28));
  empty.setParent(nullptr);

  const QString message = "眼镜已连接 Glasses connected";
  ToastView* toast = ui::makeToast(content, message);
  const QSize label = textSize(message);
  EXPECT_EQ(toast->labelSize(), label);
  EXPECT_EQ(toast->geometry(), content->rect()) << "covers its parent";
  const QRectF box = toast->boxRect();
  EXPECT_EQ(box.size(), QSizeF(label.width() + 44, label.height() + 28));
  EXPECT_EQ(box.center(), QPointF(210, 310));

  const QImage image = uitest::grab(content);
  uitest::saveSnapshot(image, "toast");
  // The box's grey beside the text, and the window's own colour outside it.
  const QPoint inBox(static_cast<int>(box.left()) + 10, static_cast<int>(box.center().y()));
  EXPECT_TRUE(uitest::near(uitest::pixel(image, inBox), ui::hexColor("#5C5C5C")))
      << uitest::pixel(image, inBox).name().toStdString();
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(5, 5)),
                           QApplication::palette().color(QPalette::Window)));
  // The text is drawn: white at 0.8 over the box leaves light pixels inside.
  int light = 0;
  for (int x = static_cast<int>(box.left()) + 22; x < box.right() - 22; ++x)
    for (int y = static_cast<int>(box.top()) + 14; y < box.bottom() - 14; ++y)
      light += qGray(image.pixel(x, y)) > 180;
  EXPECT_GT(light, 30);
}

TEST_F(Toasts, StaysASecondFadesOverOneAndIsGoneAtTwo) {
  ToastView* toast = ui::makeToast(content, "3D");
  QPointer<ToastView> alive(toast);
  const QPoint inBox =
      toast->boxRect().topLeft().toPoint() + QPoint(12, toast->boxRect().height() / 2);
  uitest::advance(0.9);
  EXPECT_EQ(ui::viewOpacity(toast), 1.0);
  uitest::advance(0.6);
  EXPECT_NEAR(ui::viewOpacity(toast), 0.5, 0.02);
  const QColor half = uitest::pixel(uitest::grab(content), inBox);
  const QColor expected =
      uitest::over(QColor(0x5C, 0x5C, 0x5C, 128), QApplication::palette().color(QPalette::Window));
  EXPECT_TRUE(uitest::near(half, expected, 6)) << half.name().toStdString();
  uitest::advance(0.49);
  ASSERT_TRUE(alive);
  EXPECT_TRUE(toastsOn(content).contains(toast));
  uitest::advance(0.01);
  EXPECT_FALSE(alive) << "removed and deleted when the fade ends";
  EXPECT_TRUE(toastsOn(content).isEmpty());
}

TEST_F(Toasts, StackWithTheLaterOnTopEachOnItsOwnClock) {
  QPointer<ToastView> first = ui::makeToast(content, "first");
  uitest::advance(0.5);
  QPointer<ToastView> second = ui::makeToast(content, "second, a little longer");
  const auto stacked = toastsOn(content);
  ASSERT_EQ(stacked.size(), 2);
  EXPECT_EQ(stacked.indexOf(second.data()), 1) << "the later one is drawn on top";
  uitest::advance(1.5);
  EXPECT_FALSE(first);
  ASSERT_TRUE(second);
  EXPECT_NEAR(ui::viewOpacity(second), 0.5, 0.02);
  uitest::advance(0.5);
  EXPECT_FALSE(second);
}

TEST_F(Toasts, AButtonUnderAToastStillGetsItsClick) {
  auto* button = new QPushButton("OK", content);
  button->setGeometry(160, 290, 100, 40);
  button->show();
  int clicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  ui::makeToast(content, "a toast right over the button");
  uitest::click(content, QPoint(210, 310));
  EXPECT_EQ(clicks, 1);
}

TEST_F(Toasts, LongTextWrapsInsideItsParent) {
  QWidget narrow;
  narrow.resize(200, 300);
  for (const QString& message :
       {QString("a long message that could never fit on one line of a narrow view"),
        QString("请重新插入眼镜请重新插入眼镜请重新插入眼镜请重新插入眼镜请重新插入眼镜"),
        QString("Averyveryveryverylongwordwithoutanyspacesthatcannotwrapatall")}) {
    ToastView* toast = ui::makeToast(&narrow, message);
    const QRectF box = toast->boxRect();
    EXPECT_LE(toast->labelSize().width(), 200 - 44) << message.toStdString();
    EXPECT_GE(box.left(), 0) << message.toStdString();
    EXPECT_LE(box.right(), 200) << message.toStdString();
    EXPECT_GT(toast->labelSize().height(), textSize("x").height()) << "wrapped onto more lines";
  }
  uitest::saveSnapshot(&narrow, "toast-long-text");
}

TEST_F(Toasts, KeyWindowToastGoesToTheActiveContentElseTheViewsParent) {
  auto* panel = new QWidget;
  window->registerContent(WindowContent::glassesPanel, panel);
  window->setContent(WindowContent::glassesPanel);
  QWidget other;
  auto* caller = new QWidget(&other);
  ToastView* toast = ui::showKeyWindowToast("to the panel", caller);
  ASSERT_NE(toast, nullptr);
  EXPECT_EQ(toast->parentWidget(), panel) << "the main window's current content";

  window->hide();
  uitest::settle();
  ASSERT_EQ(QApplication::activeWindow(), nullptr);
  toast = ui::showKeyWindowToast("to the caller's parent", caller);
  ASSERT_NE(toast, nullptr);
  EXPECT_EQ(toast->parentWidget(), &other);
  QWidget orphan;
  EXPECT_EQ(ui::showKeyWindowToast("nowhere", &orphan), nullptr);
  EXPECT_EQ(ui::showKeyWindowToast("nowhere", nullptr), nullptr);
}

TEST_F(Toasts, ShowMessageNeedsAViewThatStillExists) {
  ui::ProgressHUD::showMessage("no view", nullptr);
  auto* doomed = new QWidget(content);
  ui::ProgressHUD::showMessage("view gone", doomed);
  delete doomed;
  uitest::settle();
  EXPECT_TRUE(toastsOn(content).isEmpty());
  ui::ProgressHUD::showMessage("shown", content);
  EXPECT_TRUE(toastsOn(content).isEmpty()) << "on the main queue, not at once";
  uitest::settle();
  ASSERT_EQ(toastsOn(content).size(), 1);
  EXPECT_EQ(toastsOn(content)[0]->message(), "shown");
}

TEST_F(Toasts, TransientMessagesReachTheMainWindowsContent) {
  message::TransientMessage::install(std::make_shared<ui::ToastTransientMessage>(
      [this]() -> QWidget* { return window->currentContentWidget(); }));
  message::TransientMessage::show("当前电脑不支持AI 3D");
  uitest::settle();
  message::TransientMessage::install(nullptr);
  const auto toasts = toastsOn(content);
  ASSERT_EQ(toasts.size(), 1);
  EXPECT_EQ(toasts[0]->message(), QString("当前电脑不支持AI 3D"));
}

TEST_F(Toasts, ActivityFadesInCoversAndFadesOutOnRequest) {
  ui::hideToastActivity(content);  // none yet: nothing happens
  EXPECT_TRUE(content->findChildren<ui::ActivityView*>().isEmpty());

  ui::makeToastActivity(content);
  auto* activity = content->findChild<ui::ActivityView*>();
  ASSERT_NE(activity, nullptr);
  QPointer<ui::ActivityView> alive(activity);
  EXPECT_EQ(ui::viewOpacity(activity), 0.0);
  EXPECT_EQ(activity->geometry(), content->rect());
  EXPECT_EQ(activity->indicator()->geometry(), QRect(160, 260, 100, 100));
  EXPECT_TRUE(activity->indicator()->isRunning());
  // Half way through the 0.1 s fade (steps of a sixtieth of a second).
  uitest::advance(0.05);
  EXPECT_NEAR(ui::viewOpacity(activity), 0.5, 0.17);
  uitest::advance(0.05);
  EXPECT_EQ(ui::viewOpacity(activity), 1.0);
  const QImage image = uitest::grab(content);
  uitest::saveSnapshot(image, "toast-activity");
  QColor grey(0x80, 0x80, 0x80, 153);
  EXPECT_TRUE(uitest::near(uitest::pixel(image, QPoint(10, 10)),
                           uitest::over(grey, QApplication::palette().color(QPalette::Window))));

  ui::hideToastActivity(content);
  uitest::advance(0.05);
  ASSERT_TRUE(alive);
  EXPECT_NEAR(ui::viewOpacity(activity), 0.5, 0.17);
  uitest::advance(0.05);
  EXPECT_FALSE(alive) << "removed when its fade ends";
  ui::hideToastActivity(content);  // the key still holds the gone view: nothing happens
  uitest::settle();
}

}  // namespace
}  // namespace vistrelle
