#include "manager/CentredDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>

#include "platform/gui/application.h"

namespace {

// Remembers the manager's last two active windows. It sees every activation before the window
// itself does, so a window asking IsNewActivation finds itself current and its predecessor
// before it.
class TActivationWatch : public QObject {
 public:
  using QObject::QObject;
  QPointer<QWidget> Previous;
  QPointer<QWidget> Current;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    // The event also reaches every child of the window; only the window itself counts.
    if (e->type() == QEvent::WindowActivate && watched->isWidgetType()) {
      auto* w = static_cast<QWidget*>(watched);
      if (w->isWindow()) {
        Previous = Current;
        Current = w;
      }
    }
    return false;
  }
};

TActivationWatch* Watch() {
  static QPointer<TActivationWatch> watch;
  if (!watch && qApp) {
    watch = new TActivationWatch(qApp);  // owned by the application
    qApp->installEventFilter(watch);
  }
  return watch;
}

}  // namespace

bool IsNewActivation(const QWidget* form) {
  const TActivationWatch* watch = Watch();
  if (!watch) return true;
  const QWidget* previous = watch->Previous;
  if (!previous) return true;
  // The folder chooser and the message boxes are plain dialogs: no forms of their own.
  return previous != form && (qobject_cast<const TCentredDialog*>(previous) || qobject_cast<const QMainWindow*>(previous));
}

TCentredDialog::TCentredDialog(QWidget* parent, const char* caption, int clientWidth, int clientHeight)
    : QDialog(parent) {
  Watch();
  setWindowTitle(caption);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(clientWidth, clientHeight);
}

bool TCentredDialog::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && IsNewActivation(this) && AcceptsActivation())
    platform::RunGuarded([this] { FormActivate(); });
  return QDialog::event(e);
}

void TCentredDialog::showEvent(QShowEvent* e) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(e);
}
