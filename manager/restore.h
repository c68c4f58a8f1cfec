#pragma once
// TForm7 "Востановление": lists the ZIP archives of the selected task's backup folder, restores
// the chosen one into the task's source folder, and deletes the chosen one.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/qrnUnZip.h"
#include "manager/ArchiveForms.h"
#include "manager/FileListBox.h"
#include "manager/TaskStore.h"
#include "manager/VolMeter.h"
#include "manager/xpButton.h"

class TForm7;
extern TForm7* Form7;

class TForm7 : public TArchiveForm {
  Q_OBJECT

 public:
  explicit TForm7(QWidget* parent = nullptr);
  ~TForm7() override;

  void FormActivate() override;
  void FormPaint();
  void FileListBox1MouseDown();
  void xpButton3Click(TObject* Sender);  // "Выполнить"
  void xpButton2Click(TObject* Sender);  // "Удалить"
  void xpButton1Click(TObject* Sender);  // "Выход"
  void UnZip1Progress(TObject* Sender, uint8_t ProgressByFile, uint8_t ProgressByArchive);

  // The chosen archive, as its name is on disk (Edit2 shows it).
  const std::string& ChosenArchive() const { return FArchive; }

  QLabel Label5{this};
  QLineEdit Edit3{this};
  QGroupBox GroupBox1{this};
  TFileListBox FileListBox1{&GroupBox1};
  QGroupBox GroupBox2{this};
  QLabel Label1{&GroupBox2};
  QLineEdit Edit1{&GroupBox2};
  QLabel Label2{&GroupBox2};
  QLineEdit Edit2{&GroupBox2};
  QGroupBox GroupBox3{this};
  QLabel Label4{&GroupBox3};
  TKamsaMeter KamsaMeter1{&GroupBox3};
  QLabel Label3{&GroupBox3};
  TKamsaMeter KamsaMeter2{&GroupBox3};
  TxpButton xpButton3{this};
  TxpButton xpButton2{this};
  TxpButton xpButton1{this};
  TUnZip UnZip1;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  void CreateControls();
  void CreateUnZip();
  void SetChosenArchive(const std::string& path);
  // Extracts the chosen archive; true when every entry came out intact.
  bool RunRestore(int32_t& extracted);
  // Moves the intact files of the staging folder into target and removes the folder; the number
  // of files that reached target.
  int32_t PublishIntact(const std::string& target);
  // Moves the intact files of staged, a folder of the staging folder, into target, folders that
  // target lacks as a whole; the number of files that reached target.
  int32_t PublishFolder(const std::string& staged, const std::string& target);
  // True when every entry that came out as output passed.
  bool Intact(const std::string& output) const;
  // True when every file below folder came out intact; files counts them.
  bool AllIntact(const std::string& folder, int32_t& files) const;
  // A path of the staging folder as it is in the target folder.
  std::string TargetPath(const std::string& path) const;

  std::string FListFolder;
  std::string FArchive;
  int32_t FFileCount = 0;
  // The folder the run in progress extracts into, and each output with whether every entry that
  // came out under its name passed: one that failed leaves it in doubt.
  std::string FStaging;
  std::map<std::string, bool> FPassed;
  TProgressPace FProgress{KamsaMeter1, KamsaMeter2};
};
