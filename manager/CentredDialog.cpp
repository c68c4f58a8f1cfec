#include "manager/CentredDialog.h"

#include <QGuiApplication>
#include <QScreen>

#include "platform/gui/application.h"

TCentredDialog::TCentredDialog(QWidget* parent, const char* caption, int clientWidth, int clientHeight)
    : QDialog(parent) {
  setWindowTitle(caption);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(clientWidth, clientHeight);
}

bool TCentredDialog::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) platform::RunGuarded([this] { FormActivate(); });
  return QDialog::event(e);
}

void TCentredDialog::showEvent(QShowEvent* e) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(e);
}
