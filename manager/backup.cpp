#include "manager/backup.h"


#include "manager/ArchiveName.h"
#include "manager/Kalvenor.h"
#include "manager/TaskArchive.h"
#include "manager/TaskLog.h"
#include "platform/gui/application.h"
#include "platform/gui/datetime.h"
#include "platform/hooks.h"

TForm5* Form5 = nullptr;

namespace {

constexpr int kClientWidth = 315;
constexpr int kClientHeight = 387;
constexpr const char* kArchiveCaption = "Резервная копия";
constexpr const char* kFileCaption = "Копируемый файл";

}  // namespace

TForm5::TForm5(QWidget* parent) : TArchiveForm(parent, "Резервное копирование", kClientWidth, kClientHeight) {
  Form5 = this;
  CreateControls();
  CreateZip();
}

TForm5::~TForm5() {
  if (Form5 == this) Form5 = nullptr;
}

void TForm5::CreateControls() {
  const int left = 16;
  const int width = kClientWidth - 2 * left;
  Label4.setText("Название задачи");
  Label4.setGeometry(left, 8, width, 16);
  Edit4.setGeometry(left, 24, width, 21);

  GroupBox1.setTitle("   Параметры копирования   ");
  GroupBox1.setGeometry(left, 54, width, 160);
  struct Row {
    QLabel* label;
    QLineEdit* edit;
    const char* caption;
  };
  const Row rows[] = {{&Label1, &Edit1, "Путь к данным"},
                      {&Label2, &Edit2, "Путь к рервной копии"},
                      {&Label3, &Edit3, "Имя файла резервной копии"}};
  int y = 20;
  for (const Row& row : rows) {
    row.label->setText(row.caption);
    row.label->setGeometry(9, y, 265, 16);
    row.edit->setGeometry(9, y + 16, 265, 21);
    y += 46;
  }
  for (QLineEdit* edit : {&Edit4, &Edit1, &Edit2, &Edit3}) edit->setReadOnly(true);

  GroupBox2.setTitle("   Процесс выполнения   ");
  GroupBox2.setGeometry(left, 222, width, 112);
  Label6.setGeometry(9, 20, 265, 16);
  SetupProgressMeter(KamsaMeter1, 9, 36);
  Label5.setGeometry(9, 60, 265, 16);
  SetupProgressMeter(KamsaMeter2, 9, 76);
  Label6.setText(kFileCaption);
  Label5.setText(kArchiveCaption);

  QFont bold = font();
  bold.setBold(true);
  xpButton1.SetCaption("Выполнить");
  xpButton2.SetCaption("Выход");
  for (TxpButton* b : {&xpButton1, &xpButton2}) {
    b->SetFont(bold);
    b->resize(95, 25);
  }
  xpButton1.move(kClientWidth / 2 - 95 - 8, 348);
  xpButton2.move(kClientWidth / 2 + 8, 348);
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
  xpButton2.OnClick = [this](TObject* s) { xpButton2Click(s); };
}

void TForm5::CreateZip() {
  SetTaskZipProperties(Zip1);
  Zip1.OnProgress = [this](TObject* s, uint8_t byFile, uint8_t byArchive) { Zip1Progress(s, byFile, byArchive); };
  Zip1.OnError = [this](TObject*, const std::string& file, const std::string& extended, const std::string&,
                        int32_t code) { FErrors.Add(file, extended, code); };
}

void TForm5::FormActivate() {
  TakeSettingsAndTask();
  Edit4.setText(QString::fromStdString(FTask(TaskName, 1)));
  Edit1.setText(QString::fromStdString(FTask(SourceDir, 1)));
  Edit2.setText(QString::fromStdString(FTask(BackupDir, 1)));
  const double now = platform::Now();
  FDateText = platform::DateToStr(now);
  FTimeText = platform::TimeToStr(now);
  FArchiveName = DateTimeArchiveName();
  if (FTask(ArchiveName, 1) != kDateTimeName) FArchiveName = FTask(ArchiveName, 1);
  Edit3.setText(QString::fromStdString(FArchiveName));
}

TTaskRunResult TForm5::RunBackup(const TTaskTable& task) {
  const TFormRun run(FRunning, {&xpButton1, &xpButton2});

  // A replacing run builds a new archive beside the old one, which goes only when the new one
  // is complete: a failed run keeps the old backup byte for byte.
  const bool replace = task(CopyType, 1) == "new";
  FRunArchive = TaskArchivePath(Zip1, task(BackupDir, 1), FArchiveName);
  FErrors.Clear();
  FProgress.Start();
  TTaskRunResult result = CompressTaskArchive(Zip1, task(SourceDir, 1), FRunArchive, replace, "Kalvenor");
  FProgress.Finish();
  return result;
}

void TForm5::xpButton1Click(TObject*) {
  if (FRunning || TArchiveOperation::Running()) return;
  // The task shown since the activation, whatever row the main window has chosen since.
  const TTaskTable task = FTask;
  WriteBackupStartEntry(task, 1, TBackupRun::OnDemand, FArchiveName);
  const TTaskRunResult result = RunBackup(task);
  FFileCount = result.Added;
  WriteBackupEndEntry(task, 1, TBackupRun::OnDemand, result.Added, result.Succeeded, result.Errors.Lines(),
                      result.NotStored);
  Label5.setText(kArchiveCaption);
  Label6.setText(kFileCaption);
  if (!result.Succeeded) {
    platform::MessageBox(std::string(kBackupFailureLine) + "\n\n" + FErrors.Text(), "Ошибка!",
                         platform::MB_OK | platform::MB_ICONERROR);
  } else if (FInfo == "1") {
    platform::MessageBox(
        "Резервное копирование успешно завершено, скопировано: " + std::to_string(result.Added) + " файлов",
        "Результаты копирования", platform::MB_OK | platform::MB_ICONINFORMATION);
  }
}

void TForm5::xpButton2Click(TObject*) { close(); }

void TForm5::Zip1Progress(TObject*, uint8_t ProgressByFile, uint8_t ProgressByArchive) {
  if (!FProgress.Report(ProgressByFile, ProgressByArchive)) return;
  Label6.setText(QString::fromStdString(Zip1.CurrentFileName()));
  // The name the archive gets, not the temporary one a replacing run writes under.
  Label5.setText(QString::fromStdString(FRunArchive));
}
