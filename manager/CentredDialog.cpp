#include "manager/CentredDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>

#include "platform/gui/application.h"

namespace {

// The manager's own forms: the main window and the centred dialogs. The folder chooser and the
// message boxes are plain dialogs, no forms of their own.
bool IsManagerForm(const QWidget* w) {
  return qobject_cast<const TCentredDialog*>(w) || qobject_cast<const QMainWindow*>(w);
}

// Remembers the manager's last two active forms. Windows that are no forms (message boxes, the
// folder chooser) leave them as they are: a box is often destroyed before the form under it is
// active again, so it cannot be asked afterwards what it was. The watch sees every activation
// before the window itself does, so a form asking IsNewActivation finds itself current and the
// form before it previous.
class TActivationWatch : public QObject {
 public:
  using QObject::QObject;
  QPointer<const QWidget> Previous;
  QPointer<const QWidget> Current;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    // The event also reaches every child of the window; only the window itself counts.
    if (e->type() == QEvent::WindowActivate && watched->isWidgetType()) {
      const auto* w = static_cast<const QWidget*>(watched);
      if (w->isWindow() && IsManagerForm(w)) {
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
  // The first activation of all, or one after the form before was destroyed, is new.
  return watch->Previous != form;
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

void TCentredDialog::keyPressEvent(QKeyEvent* e) {
  // A dialog closes on Escape by itself, past a form's own rule of when it may close (not while
  // a run goes on).
  if (e->key() == Qt::Key_Escape && (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}
