#include "ui/qt_alert_presenter.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace vistrelle::ui {

QtAlertPresenter::QtAlertPresenter(std::function<QWidget*()> parent) : parent_(std::move(parent)) {}

void QtAlertPresenter::present(const AlertRequest& request, std::function<void(size_t)> done) {
  QWidget* parent = parent_ ? parent_() : nullptr;
  auto* box = new QMessageBox(parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->setIcon(request.critical ? QMessageBox::Critical : QMessageBox::Warning);
  box->setWindowTitle(QStringLiteral("Vistrelle"));
  box->setText(QString::fromStdString(request.messageText));
  box->setInformativeText(QString::fromStdString(request.informativeText));
  std::vector<QAbstractButton*> buttons;
  for (size_t i = 0; i < request.buttons.size(); ++i) {
    QPushButton* button =
        box->addButton(QString::fromStdString(request.buttons[i]),
                       i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    if (i == 0) box->setDefaultButton(button);
    buttons.push_back(button);
  }
  // One answer per alert, whichever way it goes.
  auto answered = std::make_shared<bool>(false);
  auto answer = [done = std::move(done), answered](size_t index) {
    if (*answered) return;
    *answered = true;
    if (done) done(index);
  };
  QObject::connect(box, &QMessageBox::buttonClicked, box, [buttons, answer](QAbstractButton* b) {
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i] == b) answer(i);
    }
  });
  const size_t last = buttons.empty() ? 0 : buttons.size() - 1;
  QObject::connect(box, &QDialog::finished, box, [answer, last](int) { answer(last); });
  box->open();
}

}  // namespace vistrelle::ui
