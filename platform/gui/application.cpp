#include "platform/gui/application.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <stdexcept>

#include "platform/files.h"
#include "platform/hooks.h"

namespace platform {
namespace {

Application* gApplication = nullptr;

// The engine lets pending messages run before each block and each file: on 100,000 small files
// that is a few hundred thousand turns of the event loop, which together cost more than the files
// themselves. A turn is taken when the last one ended kPumpInterval ago: at most 10,000 a second,
// far more than a click, a Cancel or a repaint needs.
constexpr std::chrono::microseconds kPumpInterval{100};

void PumpMessages() {
  static std::chrono::steady_clock::time_point last;
  if (std::chrono::steady_clock::now() - last < kPumpInterval) return;
  QCoreApplication::processEvents();
  last = std::chrono::steady_clock::now();
}

struct BoxButton {
  QMessageBox::StandardButton button;
  int id;
  const char* text;  // the button's caption on a Russian desktop, whatever Qt's translations say
};

constexpr BoxButton kOk{QMessageBox::Ok, IDOK, "ОК"};
constexpr BoxButton kCancel{QMessageBox::Cancel, IDCANCEL, "Отмена"};
constexpr BoxButton kAbort{QMessageBox::Abort, IDABORT, "Прервать"};
constexpr BoxButton kRetry{QMessageBox::Retry, IDRETRY, "Повтор"};
constexpr BoxButton kIgnore{QMessageBox::Ignore, IDIGNORE, "Пропустить"};
constexpr BoxButton kYes{QMessageBox::Yes, IDYES, "Да"};
constexpr BoxButton kNo{QMessageBox::No, IDNO, "Нет"};

// The buttons of a Windows box type, in their order on the box.
std::vector<BoxButton> ButtonsOf(uint32_t flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {kOk, kCancel};
    case MB_ABORTRETRYIGNORE: return {kAbort, kRetry, kIgnore};
    case MB_YESNOCANCEL: return {kYes, kNo, kCancel};
    case MB_YESNO: return {kYes, kNo};
    case MB_RETRYCANCEL: return {kRetry, kCancel};
    default: return {kOk};
  }
}

QMessageBox::Icon IconOf(uint32_t flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

int ShowQtMessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  QMessageBox box(IconOf(flags), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::NoButton, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);  // the texts are the system's own, never markup
  const auto buttons = ButtonsOf(flags);
  for (const auto& b : buttons) box.addButton(b.button)->setText(QString::fromUtf8(b.text));
  size_t def = (flags & MB_DEFMASK) >> 8;
  if (def >= buttons.size()) def = 0;
  box.setDefaultButton(buttons[def].button);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const auto& b : buttons) {
    if (clicked == box.button(b.button)) return b.id;
  }
  // Closed without a button (Escape, the window's close box): the box's cancelling answer.
  for (const auto& b : buttons) {
    if (b.id == IDCANCEL || b.id == IDNO) return b.id;
  }
  return buttons.front().id;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  gApplication = this;
  // The executor lives behind a hidden main form; only the main form's closing ends a program.
  setQuitOnLastWindowClosed(false);
  SetMessagePump(PumpMessages);
  SetMessageBoxHandler(ShowQtMessageBox);
}

Application::~Application() {
  // Forms go before the application object, the last created first.
  while (!FForms.empty()) FForms.pop_back();
  SetMessagePump(nullptr);
  SetMessageBoxHandler(nullptr);
  SetApplicationTitle("");
  if (gApplication == this) gApplication = nullptr;
}

void Application::SetTitle(const std::string& title) {
  // Not the display name: the window system would append it to every caption of the program.
  FTitle = title;
  SetApplicationTitle(title);  // the caption of the engine's own boxes
}

void Application::AdoptForm(std::unique_ptr<QWidget> form) {
  if (FForms.empty()) form->installEventFilter(this);
  FForms.push_back(std::move(form));
}

bool Application::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close && watched == MainForm()) {
    // The close handler may refuse: look once it has run.
    QTimer::singleShot(0, this, [this] {
      if (MainForm() && !MainForm()->isVisible()) quit();
    });
  }
  return QApplication::eventFilter(watched, event);
}

int Application::Run() {
  if (FTerminated || !MainForm()) return 0;
  if (FShowMainForm) MainForm()->show();
  return exec();
}

void Application::Terminate() {
  FTerminated = true;
  quit();
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
  return false;
}

Application* App() { return gApplication; }

bool StartDetached(const std::string& program) {
  QProcess process;
  process.setProgram(QString::fromStdString(program));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("TARVELO_HOME", QString::fromStdString(InstallDir()));
  process.setProcessEnvironment(environment);
  return process.startDetached();
}

void ShowException(const std::exception& e) {
  std::string title = gApplication ? gApplication->Title() : std::string();
  if (title.empty()) title = QCoreApplication::applicationName().toStdString();
  MessageBox(e.what(), title, MB_OK | MB_ICONERROR);
}

bool RunGuarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
  return false;
}

}  // namespace platform
