#include "platform/hooks.h"

#include <cerrno>

namespace platform {
namespace {

// The single place of the process's UI hooks: one pump and one box handler per program.
struct Hooks {
  MessagePump pump;
  MessageBoxHandler box;
  std::string title;
};
Hooks& hooks() {
  static Hooks h;
  return h;
}

}  // namespace

void ProcessMessages() {
  if (hooks().pump) hooks().pump();
}

void SetMessagePump(MessagePump pump) { hooks().pump = std::move(pump); }
MessagePump CurrentMessagePump() { return hooks().pump; }

int DefaultAnswer(uint32_t flags) {
  int buttons[3] = {IDOK, 0, 0};
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons[0] = IDOK; buttons[1] = IDCANCEL; break;
    case MB_ABORTRETRYIGNORE: buttons[0] = IDABORT; buttons[1] = IDRETRY; buttons[2] = IDIGNORE; break;
    case MB_YESNOCANCEL: buttons[0] = IDYES; buttons[1] = IDNO; buttons[2] = IDCANCEL; break;
    case MB_YESNO: buttons[0] = IDYES; buttons[1] = IDNO; break;
    case MB_RETRYCANCEL: buttons[0] = IDRETRY; buttons[1] = IDCANCEL; break;
    default: break;
  }
  int index = static_cast<int>((flags & MB_DEFMASK) >> 8);
  if (index > 2 || buttons[index] == 0) index = 0;
  return buttons[index];
}

int UnattendedAnswer(uint32_t flags) {
  // Nobody can mend the cause of a retry question: retrying forever would hang the program.
  switch (flags & MB_TYPEMASK) {
    case MB_RETRYCANCEL: return IDCANCEL;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return DefaultAnswer(flags);
  }
}

std::string ApplicationTitle() {
  return hooks().title.empty() ? std::string(program_invocation_short_name) : hooks().title;
}

void SetApplicationTitle(const std::string& title) { hooks().title = title; }

int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  if (hooks().box) return hooks().box(text, caption, flags);
  return UnattendedAnswer(flags);
}

void SetMessageBoxHandler(MessageBoxHandler handler) { hooks().box = std::move(handler); }

ScriptedAnswerer::ScriptedAnswerer() : previous_(hooks().box) {
  hooks().box = [this](const std::string& text, const std::string& caption, uint32_t flags) {
    int answer = UnattendedAnswer(flags);
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    boxes_.push_back(Box{text, caption, flags, answer});
    if (action_) action_(boxes_.back());
    return answer;
  };
}

ScriptedAnswerer::~ScriptedAnswerer() { hooks().box = previous_; }

}  // namespace platform
