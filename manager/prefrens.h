#pragma once
// TForm4 "Параметры задачи": shows the selected task and stores the changed task back with a
// rewrite of the whole task store.
#include "manager/Settings.h"
#include "manager/TaskEditor.h"

class TForm4;
extern TForm4* Form4;

class TForm4 : public TTaskEditorForm {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);
  ~TForm4() override;

  // Shows task SelectedTask.
  void FormActivate() override;
  // The name and the paths cannot be changed; with warn "1" a key in them says why.
  void Edit1KeyPress();
  void Edit2KeyDown();
  void Edit3KeyDown();
  void xpButton1Click(TObject* Sender);  // "Выход"
  void xpButton2Click(TObject* Sender);  // "Изменить"

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  // The stored date or time of the task into its picker. An unreadable one that the kind uses
  // is reported and the picker keeps its value; one the kind does not use is shown when it
  // reads, so that a change stores it unchanged.
  void ShowStoredDate(const std::string& text, bool used);
  void ShowStoredTime(const std::string& text);

  TSettingsCopies FSettings;  // info, warn and addf
};
