#pragma once
// TForm2 "Новая задача": builds a task from the user's choices and appends it to the task store.
#include <QToolButton>

#include <string>

#include "manager/Settings.h"
#include "manager/TaskEditor.h"
#include "manager/xpCheckBox.h"

class TForm2;
extern TForm2* Form2;

class TForm2 : public TTaskEditorForm {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  void FormActivate() override;
  void Edit1Change();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void xpCheckBox1Click(TObject* Sender);
  void xpButton1Click(TObject* Sender);  // "Создать"
  void xpButton2Click(TObject* Sender);  // "Отменить"

  // The folder under which the task's backup folder lies: the rootf copy, or the folder chosen
  // with SpeedButton2.
  const std::string& RootFolder() const { return FRootFolder; }
  void SetRootFolder(const std::string& folder) { FRootFolder = folder; }

  QToolButton SpeedButton1{&GroupBox1};
  QToolButton SpeedButton2{&GroupBox1};
  TxpCheckBox xpCheckBox1{&GroupBox1};

 private:
  // The backup folder named after the task under the root folder.
  std::string TaskFolder() const;
  // The task name becomes a folder and a file name.
  bool TaskNameUsable(const std::string& name) const;

  TSettingsCopies FSettings;  // info, warn, addf and deff
  std::string FRootFolder;
};
