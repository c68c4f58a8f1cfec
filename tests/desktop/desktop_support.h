#pragma once
// The manager's forms on a real X server with a window manager (scripts/with-desktop.sh): real
// message boxes that the window manager activates and a "user" answers once they are active, and
// the captions as the window manager reads them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
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

// Asks the window manager to close w, as its close button does (_NET_CLOSE_WINDOW): the window
// manager then sends the window its WM_DELETE_WINDOW. False when there is no X connection.
inline bool CloseByWindowManager(const QWidget& w) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11) return false;
  xcb_connection_t* c = x11->connection();
  static constexpr char kName[] = "_NET_CLOSE_WINDOW";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof kName - 1, kName), nullptr);
  if (!atom) return false;
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = static_cast<xcb_window_t>(w.winId());
  event.type = atom->atom;
  event.data.data32[0] = XCB_CURRENT_TIME;
  event.data.data32[1] = 2;  // the request comes from the user
  std::free(atom);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(c);
  return true;
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

// Returns once a call queued now has run, so every event queued before it has been delivered:
// what an input set off within the program (a close deferred to the event loop, say) has happened
// by then, and a test may say that it did not happen.
inline bool QueuedEventsDelivered(int timeoutMs = 3000) {
  auto reached = std::make_shared<bool>(false);
  QMetaObject::invokeMethod(qApp, [reached] { *reached = true; }, Qt::QueuedConnection);
  return QTest::qWaitFor([reached] { return *reached; }, timeoutMs);
}

}  // namespace desktop
