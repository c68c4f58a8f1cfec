#pragma once
// TForm3 "Выбор каталога": the folder chooser of the new-task form and the settings form, shown
// modally; FolderTarget says where the chosen folder goes. Coming back from it is no new
// activation of the form that opened it (IsNewActivation).
#include <QDialog>
#include <QFileSystemModel>
#include <QTreeView>

#include <cstdint>
#include <string>

#include "manager/xpButton.h"

// Where "Выбрать" puts the chosen folder: 0 the new-task form's Edit2, 1 the new-task form's root
// folder, 2 the settings form's Edit1. The caller sets it before it shows the chooser.
extern int32_t FolderTarget;
constexpr int32_t kFolderToSource = 0;
constexpr int32_t kFolderToRoot = 1;
constexpr int32_t kFolderToSettings = 2;

class TForm3;
extern TForm3* Form3;

// The shell's folder tree: folders only, from the top of the file system (what the desktop
// holds there), with the shell's icons, not refreshed on changes; the right button selects too.
class TShellTreeView : public QTreeView {
  Q_OBJECT

 public:
  explicit TShellTreeView(QWidget* parent = nullptr);
  ~TShellTreeView() override;

  // The file-system path of the selected folder; empty when no folder is selected.
  std::string Path() const;
  // Selects folder and opens the tree down to it; false, and the selection stays, when folder
  // is no folder.
  bool SetPath(const std::string& folder);
  QFileSystemModel& Model() { return FModel; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  QFileSystemModel FModel;
  // The folders above the one SetPath selected are read in the background; until the user acts,
  // each one read scrolls the selection back into view.
  bool FScrollPending = false;
};

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  // Shows the chooser modally, starting at the target's current folder. True when a folder was
  // chosen and put where FolderTarget says; closing the chooser otherwise changes nothing.
  bool ShowModal();
  void xpButton1Click(TObject* Sender);  // "Выбрать"

  TShellTreeView ShellTreeView1{this};
  TxpButton xpButton1{this};

 private:
  std::string TargetFolder() const;
  void Deliver(const std::string& folder);

  bool FChosen = false;
};
