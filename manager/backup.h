#pragma once
// TForm5 "Резервное копирование": runs the selected task at once into an archive of its backup
// folder and shows the progress of the current file and of the whole archive.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <cstdint>
#include <string>

#include "archive/qrnZip.h"
#include "manager/ArchiveForms.h"
#include "manager/TaskArchive.h"
#include "manager/TaskStore.h"
#include "manager/VolMeter.h"
#include "manager/xpButton.h"

class TForm5;
extern TForm5* Form5;

// The name of a task's archive that stands for "a name made from the date and time".
inline constexpr const char* kDateTimeName = "Дата+Время.zip";

class TForm5 : public TArchiveForm {
  Q_OBJECT

 public:
  explicit TForm5(QWidget* parent = nullptr);
  ~TForm5() override;

  // The task's fields and the archive name of this activation.
  void FormActivate() override;
  void xpButton1Click(TObject* Sender);  // "Выполнить"
  void xpButton2Click(TObject* Sender);  // "Выход"
  void Zip1Progress(TObject* Sender, uint8_t ProgressByFile, uint8_t ProgressByArchive);

  QLabel Label4{this};
  QLineEdit Edit4{this};
  QGroupBox GroupBox1{this};
  QLabel Label1{&GroupBox1};
  QLineEdit Edit1{&GroupBox1};
  QLabel Label2{&GroupBox1};
  QLineEdit Edit2{&GroupBox1};
  QLabel Label3{&GroupBox1};
  QLineEdit Edit3{&GroupBox1};
  QGroupBox GroupBox2{this};
  QLabel Label6{&GroupBox2};
  TKamsaMeter KamsaMeter1{&GroupBox2};
  QLabel Label5{&GroupBox2};
  TKamsaMeter KamsaMeter2{&GroupBox2};
  TxpButton xpButton1{this};
  TxpButton xpButton2{this};
  TZip Zip1;

 private:
  void CreateControls();
  void CreateZip();
  // Runs the task's backup; what it reported is in FErrors.
  TTaskRunResult RunBackup(const TTaskTable& task);

  // The date and time texts and the archive name of the last activation.
  std::string FDateText, FTimeText, FArchiveName;
  // The files of the last run.
  int32_t FFileCount = 0;
  // The archive of the run in progress, as the user knows it.
  std::string FRunArchive;
  TProgressPace FProgress{KamsaMeter1, KamsaMeter2};
};
