// Transient messages asked for from worker threads reach the main queue and
// become one toast each.

#include <gtest/gtest.h>

#include <QWidget>
#include <thread>
#include <vector>

#include "platform/message/transient_message.h"
#include "ui/progress_hud.h"
#include "ui/toast_transient_message.h"
#include "ui/toast_view.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

QStringList toastsOn(QWidget* parent) {
  QStringList messages;
  for (auto* toast : parent->findChildren<ui::ToastView*>(QString(), Qt::FindDirectChildrenOnly))
    messages << toast->message();
  messages.sort();
  return messages;
}

TEST(ShowMessageFromThreads, EachMessageShowsOnceOnTheMainQueue) {
  QWidget window;
  auto* content = new QWidget(&window);
  window.resize(420, 620);
  uitest::settle();

  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back(
        [content, i] { ui::ProgressHUD::showMessage(QString("worker %1").arg(i), content); });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_TRUE(toastsOn(&window).isEmpty()) << "nothing is drawn off the main queue";
  uitest::settle();
  EXPECT_EQ(toastsOn(&window), (QStringList{"worker 0", "worker 1", "worker 2", "worker 3"}));
  uitest::advance(2.0);
  EXPECT_TRUE(toastsOn(&window).isEmpty());
}

TEST(ShowMessageFromThreads, TransientMessagesFromWorkersReachTheWindow) {
  QWidget window;
  auto* content = new QWidget(&window);
  window.resize(420, 620);
  message::TransientMessage::install(
      std::make_shared<ui::ToastTransientMessage>([content]() -> QWidget* { return content; }));
  std::thread worker([] { message::TransientMessage::show("网络请求失败"); });
  worker.join();
  uitest::settle();
  message::TransientMessage::install(nullptr);
  EXPECT_EQ(toastsOn(&window), QStringList{QString("网络请求失败")});
  uitest::advance(2.0);
}

}  // namespace
}  // namespace vistrelle
