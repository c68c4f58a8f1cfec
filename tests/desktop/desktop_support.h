#pragma once
// The manager's forms on a real X server with a window manager (scripts/with-desktop.sh): real
// message boxes that the window manager activates and a "user" answers once they are active, and
// the captions as the window manager reads them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "platform/gui/application.h"
#include "platform/hooks.h"

namespace desktop {

// The caption of a window as the window manager shows it (_NET_WM_NAME).
inline std::string WindowManagerCaption(const QWidget& w) {
  QProcess xprop;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LC_ALL", "C.UTF-8");
  xprop.setProcessEnvironment(env);
  xprop.start("xprop", {"-id", QString::number(w.winId()), "_NET_WM_NAME"});
  if (!xprop.waitForFinished(5000)) return "(xprop did not answer)";
  // _NET_WM_NAME(UTF8_STRING) = "caption"
  const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  const qsizetype first = out.indexOf('"');
  const qsizetype last = out.lastIndexOf('"');
  if (first < 0 || last <= first) return "(no caption: " + out.toStdString() + ")";
  return out.mid(first + 1, last - first - 1).replace("\\\"", "\"").toStdString();
}

// Every box the programs show goes through the real QMessageBox. A user clicks its default button
// once the window manager has made it the active window; the box's texts and buttons are kept.
class RealBoxes {
 public:
  struct Box {
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;  // in their order on the box
    std::string windowCaption;         // as the window manager shows it
    bool activated = false;            // the window manager made it the active window
  };

  RealBoxes() {
    platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, uint32_t flags) {
      boxes_.push_back(Box{caption, text, {}, {}, false});
      const size_t index = boxes_.size() - 1;
      QTimer user;
      QElapsedTimer waited;
      waited.start();
      user.setInterval(20);
      QObject::connect(&user, &QTimer::timeout, [this, index, &user, &waited] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        const bool active = box->isActiveWindow();
        // A box that never becomes active is answered all the same, and the test says so.
        if (!active && waited.elapsed() < kActivationBound) return;
        Box& seen = boxes_[index];
        seen.activated = active;
        for (QAbstractButton* b : box->buttons()) seen.buttons.push_back(b->text().toStdString());
        seen.windowCaption = WindowManagerCaption(*box);
        user.stop();
        if (QPushButton* def = box->defaultButton()) QTest::mouseClick(def, Qt::LeftButton);
      });
      user.start();
      return platform::ShowQtMessageBox(text, caption, flags);
    });
  }
  ~RealBoxes() { platform::SetMessageBoxHandler(nullptr); }
  RealBoxes(const RealBoxes&) = delete;
  RealBoxes& operator=(const RealBoxes&) = delete;

  const std::vector<Box>& Boxes() const { return boxes_; }
  void Clear() { boxes_.clear(); }

 private:
  static constexpr int kActivationBound = 3000;
  std::vector<Box> boxes_;
};

// Lets the window manager and the event loop settle: activations after a box closes arrive late.
inline void Settle(int ms = 400) { QTest::qWait(ms); }

}  // namespace desktop
