#pragma once
// The two hooks through which the engine reaches the user interface: the message pump that long
// loops call between blocks, and the message box. The GUI programs install Qt versions; without
// a GUI the pump does nothing and the box answers its default button. Tests install a
// ScriptedAnswerer.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Message box flags and answers, with the values of the Windows API: a caller ors one button set
// (MB_OK to MB_RETRYCANCEL), one icon and one default button, as in
// MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, and gets one of the ID answers back.
enum : uint32_t {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON1 = 0x000,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
  MB_TYPEMASK = 0xF,
  MB_ICONMASK = 0xF0,
  MB_DEFMASK = 0xF00,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

using MessagePump = std::function<void()>;
using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, uint32_t flags)>;

// Lets the application process its pending window messages.
void ProcessMessages();
void SetMessagePump(MessagePump pump);  // empty: pump nothing
MessagePump CurrentMessagePump();

// The application's title, the caption of the boxes that the engine shows itself: the one a
// program set, else the program's name.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);  // empty: the program's name again

// Shows a message box and returns the button pressed (IDOK, IDYES, ...).
int MessageBox(const std::string& text, const std::string& caption, uint32_t flags);
void SetMessageBoxHandler(MessageBoxHandler handler);  // empty: answer the default button
// The box's default button.
int DefaultAnswer(uint32_t flags);
// The answer of a box nobody sees or scripts: the default button, except that a retry question
// is declined.
int UnattendedAnswer(uint32_t flags);

// Records every box and answers from a queue (then as UnattendedAnswer). Installs itself while it
// lives and restores the previous handler afterwards.
class ScriptedAnswerer {
 public:
  struct Box {
    std::string text;
    std::string caption;
    uint32_t flags;
    int answer;
  };
  ScriptedAnswerer();
  ~ScriptedAnswerer();
  ScriptedAnswerer(const ScriptedAnswerer&) = delete;
  ScriptedAnswerer& operator=(const ScriptedAnswerer&) = delete;

  void Answer(int id) { answers_.push_back(id); }
  // Runs before the box returns, so a test can act "while the box is open" (swap a disk, ...).
  void OnBox(std::function<void(const Box&)> action) { action_ = std::move(action); }
  const std::vector<Box>& Boxes() const { return boxes_; }
  void Clear() { boxes_.clear(); }

 private:
  std::deque<int> answers_;
  std::vector<Box> boxes_;
  std::function<void(const Box&)> action_;
  MessageBoxHandler previous_;
};

}  // namespace platform
