#include "manager/xpControl.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>

#include "platform/gui/application.h"

TxpCustomControl::TxpCustomControl(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  // Clicks on a control for the right button must not reach the form.
  setContextMenuPolicy(Qt::PreventContextMenu);
}

TxpCustomControl::~TxpCustomControl() {
  if (FWindow && FWindow != this) FWindow->removeEventFilter(this);
  for (auto& s : FAccelerators) {
    if (s) s->deleteLater();
  }
}

void TxpCustomControl::SetCaption(const std::string& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  RebuildAccelerators();
  repaint();
}

void TxpCustomControl::SetFont(const QFont& f) {
  setFont(f);
  repaint();
}

void TxpCustomControl::SetHint(const std::string& hint) {
  FHint = hint;
  ApplyHint();
}

void TxpCustomControl::SetShowHint(bool show) {
  FShowHint = show;
  ApplyHint();
}

void TxpCustomControl::ApplyHint() { setToolTip(FShowHint ? QString::fromStdString(FHint) : QString()); }

void TxpCustomControl::SetTabStop(bool tabStop) {
  FTabStop = tabStop;
  // A control outside the tab order still takes the focus when clicked.
  setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

QString TxpCustomControl::DisplayText() const {
  QString text = QString::fromStdString(FCaption);
  int amp = text.indexOf('&');
  if (amp >= 0) text.remove(amp, 1);
  return text;
}

int TxpCustomControl::AcceleratorIndex() const {
  QString text = QString::fromStdString(FCaption);
  int amp = text.indexOf('&');
  if (amp < 0 || amp + 1 >= text.size()) return -1;
  return amp;
}

bool TxpCustomControl::event(QEvent* e) {
  if (e->type() == QEvent::ParentChange || e->type() == QEvent::Show) WatchWindow();
  return QWidget::event(e);
}

// Keys reach the window only when the focused control did not take them, as dialog keys do.
void TxpCustomControl::WatchWindow() {
  QWidget* w = window();
  if (w == FWindow) return;
  if (FWindow && FWindow != this) FWindow->removeEventFilter(this);
  FWindow = w;
  if (w != this) w->installEventFilter(this);
  RebuildAccelerators();
}

void TxpCustomControl::RebuildAccelerators() {
  for (auto& s : FAccelerators) {
    if (!s) continue;
    s->setEnabled(false);
    s->deleteLater();
  }
  FAccelerators.clear();
  const int index = AcceleratorIndex();
  if (index < 0 || !FWindow) return;
  const QString ch = DisplayText().mid(index, 1);
  // A letter's key code is its upper case; a key known only by its text carries that text's
  // case. Either case, with or without Shift, is the accelerator.
  std::vector<int> codes{static_cast<int>(ch.toUpper().at(0).unicode())};
  const int lower = static_cast<int>(ch.toLower().at(0).unicode());
  if (lower != codes.front()) codes.push_back(lower);
  for (int code : codes) {
    for (int mods : {int(Qt::ALT), int(Qt::ALT | Qt::SHIFT)}) {
      QPointer<QShortcut> s = new QShortcut(QKeySequence(code | mods), FWindow);  // owned by the window
      s->setContext(Qt::WindowShortcut);
      s->setAutoRepeat(false);
      auto fire = [this] {
        if (isVisible()) DialogChar();
      };
      connect(s, &QShortcut::activated, this, fire);
      connect(s, &QShortcut::activatedAmbiguously, this, fire);
      FAccelerators.push_back(s);
    }
  }
}

bool TxpCustomControl::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress && watched == FWindow && isVisible()) {
    auto* key = static_cast<QKeyEvent*>(e);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier &&
        (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape)) {
      DialogKey(key->key());
    }
  }
  return QWidget::eventFilter(watched, e);
}

void TxpCustomControl::focusInEvent(QFocusEvent* e) {
  if (!FFocused) {
    FFocused = true;
    FocusChanged();
  }
  // Entering a control is a change within the form, not the form's window coming back.
  if (e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason && OnEnter) {
    platform::RunGuarded([this] { OnEnter(this); });
  }
}

void TxpCustomControl::focusOutEvent(QFocusEvent* e) {
  if (FFocused) {
    FFocused = false;
    FocusChanged();
  }
  if (e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason && OnExit) {
    platform::RunGuarded([this] { OnExit(this); });
  }
}

void TxpCustomControl::contextMenuEvent(QContextMenuEvent* e) { e->accept(); }

QColor ButtonFaceColor(const QWidget* w) { return w->palette().color(QPalette::Window); }
