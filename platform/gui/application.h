#pragma once
// The application object of the two programs: title, forms created once in a fixed order and
// owned until the end, the message loop, and the default error box. It installs the Qt message
// pump and the QMessageBox handler behind the hooks of platform/hooks.h.
#include <QApplication>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace platform {

class Application : public QApplication {
  Q_OBJECT

 public:
  Application(int& argc, char** argv);
  ~Application() override;

  void SetTitle(const std::string& title);
  const std::string& Title() const { return FTitle; }
  // The executor keeps its main form hidden behind the tray icon.
  void SetShowMainForm(bool show) { FShowMainForm = show; }
  bool ShowMainForm() const { return FShowMainForm; }

  // Creates a form and keeps it until the application ends; the first one is the main form,
  // whose closing ends the message loop.
  template <class TForm, class... Args>
  TForm* CreateForm(Args&&... args) {
    auto form = std::make_unique<TForm>(std::forward<Args>(args)...);
    TForm* raw = form.get();
    AdoptForm(std::move(form));
    return raw;
  }
  QWidget* MainForm() const { return FForms.empty() ? nullptr : FForms.front().get(); }

  // Shows the main form and runs the message loop until it closes (or Terminate was called).
  int Run();
  // Ends the application: the loop stops, or does not start when it is not running yet.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // No exception may unwind through Qt: whatever escapes an event handler ends here.
  bool notify(QObject* receiver, QEvent* event) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AdoptForm(std::unique_ptr<QWidget> form);

  std::string FTitle;
  bool FShowMainForm = true;
  bool FTerminated = false;
  std::vector<std::unique_ptr<QWidget>> FForms;
};

// The running application object, or nullptr.
Application* App();

// The application's default error box: the exception's text under the application's title,
// error icon, OK; shown through the message box hook.
void ShowException(const std::exception& e);
// Runs action and reports any exception it raises with the default error box. True when the
// action ended without one. Every event handler of the forms runs through this.
bool RunGuarded(const std::function<void()>& action);

// Starts one of the programs detached, on this installation folder: it gets $TARVELO_HOME, so
// it finds the same folder wherever it lies. False when it could not be started.
bool StartDetached(const std::string& program);

// The message box of the programs: a QMessageBox with the Windows flags' buttons, icon and
// default button; answers IDOK, IDYES, ...
int ShowQtMessageBox(const std::string& text, const std::string& caption, uint32_t flags);

}  // namespace platform
