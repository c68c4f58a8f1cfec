#include "manager/restore.h"

#include <QMouseEvent>
#include <QStyle>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "archive/qrnCompBase.h"
#include "archive/qrnGbls.h"
#include "manager/Kalvenor.h"
#include "manager/TaskLog.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/hooks.h"

TForm7* Form7 = nullptr;

namespace {

constexpr int kClientWidth = 555;
constexpr int kClientHeight = 316;
constexpr const char* kFileCaption = "Востанавливаемый файл";
constexpr const char* kArchiveCaption = "Файл резервной копии";
constexpr const char* kErrorCaption = "Ошибка!";

void ShowError(const std::string& text) {
  platform::MessageBox(text, kErrorCaption, platform::MB_OK | platform::MB_ICONERROR);
}

// A new hidden folder inside target for one restore; empty when none can be made, with the line
// that tells the user why in failure.
std::string MakeStagingFolder(const std::string& target, std::string& failure) {
  static uint32_t counter = 0;
  std::error_code ec;
  std::filesystem::create_directories(target, ec);
  if (ec) {
    failure = "Невозможно создать папку: " + target + " (" + ec.message() + ")";
    return std::string();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path =
        JoinPath(target, ".~Kalvenor-restore-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    if (std::filesystem::create_directory(path, ec)) return path;
    if (ec) break;
  }
  failure = "Невозможно записать в папку: " + target + (ec ? " (" + ec.message() + ")" : std::string());
  return std::string();
}

// Not even a broken link stands under the name.
bool NothingAt(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace

// --- the form ------------------------------------------------------------------------------

TForm7::TForm7(QWidget* parent) : TArchiveForm(parent, "Востановление", kClientWidth, kClientHeight) {
  Form7 = this;
  CreateControls();
  CreateUnZip();
}

TForm7::~TForm7() {
  if (Form7 == this) Form7 = nullptr;
}

void TForm7::CreateControls() {
  const int left = 8;
  const int listWidth = 250;
  Label5.setText("Название задачи");
  Label5.setGeometry(left, 8, listWidth, 16);
  Edit3.setGeometry(left, 24, listWidth, 21);

  GroupBox1.setTitle("   Файлы резервных копий    ");
  GroupBox1.setGeometry(left, 54, listWidth, 214);
  FileListBox1.setGeometry(8, 20, listWidth - 16, 214 - 28);
  FileListBox1.SetMask("*.zip");
  FileListBox1.OnMouseDown = [this] { FileListBox1MouseDown(); };

  const int right = left + listWidth + 10;
  const int width = kClientWidth - right - 8;
  GroupBox2.setTitle("   Параметры востановления   ");
  GroupBox2.setGeometry(right, 8, width, 116);
  Label1.setText("Путь для востановления данных");
  Label1.setGeometry(7, 20, 265, 16);
  Edit1.setGeometry(7, 36, 265, 21);
  Label2.setText("Имя файла резервной копии ");
  Label2.setGeometry(7, 64, 265, 16);
  Edit2.setGeometry(7, 80, 265, 21);
  for (QLineEdit* edit : {&Edit3, &Edit1, &Edit2}) edit->setReadOnly(true);

  GroupBox3.setTitle("   Процесс востановления    ");
  GroupBox3.setGeometry(right, 132, width, 136);
  Label4.setText(kFileCaption);
  Label4.setGeometry(7, 24, 265, 16);
  SetupProgressMeter(KamsaMeter1, 7, 40);
  Label3.setText(kArchiveCaption);
  Label3.setGeometry(7, 72, 265, 16);
  SetupProgressMeter(KamsaMeter2, 7, 88);

  QFont bold = font();
  bold.setBold(true);
  xpButton3.SetCaption("Выполнить");
  xpButton2.SetCaption("Удалить");
  xpButton1.SetCaption("Выход");
  int x = right;
  for (TxpButton* b : {&xpButton3, &xpButton2, &xpButton1}) {
    b->SetFont(bold);
    b->setGeometry(x, 280, 89, 25);
    x += 95;
  }
  xpButton3.OnClick = [this](TObject* s) { xpButton3Click(s); };
  xpButton2.OnClick = [this](TObject* s) { xpButton2Click(s); };
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
}

void TForm7::CreateUnZip() {
  UnZip1.SetCpuType(cptAuto);
  UnZip1.SetCreateStoredDirs(true);
  // A protected archive is not asked for: its entries fail and the form says so.
  UnZip1.SetPasswordAttempts(0);
  UnZip1.OnProgress = [this](TObject* s, uint8_t byFile, uint8_t byArchive) { UnZip1Progress(s, byFile, byArchive); };
  // A missing archive is reported without its name (the reader has emptied ArchiveFile).
  UnZip1.OnError = [this](TObject*, const std::string& file, const std::string& extended, const std::string&,
                          int32_t code) { FErrors.Add(file.empty() ? FArchive : TargetPath(file), extended, code); };
  // A file that an entry failed stays in doubt: another entry of its name may have passed before.
  UnZip1.OnEnd = [this](TObject*, const std::string& file, bool passed) {
    const auto [verdict, first] = FPassed.emplace(file, passed);
    if (!first) verdict->second = verdict->second && passed;
  };
}

void TForm7::paintEvent(QPaintEvent* e) {
  QDialog::paintEvent(e);
  platform::RunGuarded([this] { FormPaint(); });
}

void TForm7::SetChosenArchive(const std::string& path) {
  FArchive = path;
  Edit2.setText(QString::fromStdString(path));
}

void TForm7::FormActivate() {
  TakeSettingsAndTask();
  SetChosenArchive("");
  FListFolder = FTask(BackupDir, 1);
  Edit1.setText(QString::fromStdString(FTask(SourceDir, 1)));
  Edit3.setText(QString::fromStdString(FTask(TaskName, 1)));
  FileListBox1.SetDirectory(FListFolder);
  update();
}

void TForm7::FormPaint() {
  // Archives that appeared or went since the last paint show; an unchanged folder changes
  // nothing, so the paint does not start another.
  const QString source = QString::fromStdString(FTask(SourceDir, 1));
  if (Edit1.text() != source) Edit1.setText(source);
  FileListBox1.SetDirectory(FListFolder);
}

void TForm7::FileListBox1MouseDown() {
  if (FRunning) return;
  if (FileListBox1.Count() >= 1) {
    // A press beside the names chooses nothing and keeps the choice.
    const std::string name = FileListBox1.SelectedName();
    if (!name.empty()) SetChosenArchive(JoinPath(FListFolder, name));
    return;
  }
  if (FArchive.empty()) ShowError("Список не содержит не одного файла резервной копии!");
}

std::string TForm7::TargetPath(const std::string& path) const {
  if (FStaging.empty() || path.compare(0, FStaging.size(), FStaging) != 0) return path;
  return FTask(SourceDir, 1) + path.substr(FStaging.size());
}

bool TForm7::RunRestore(int32_t& extracted) {
  const TFormRun run(FRunning, {&xpButton1, &xpButton2, &xpButton3, &FileListBox1});
  FErrors.Clear();
  FPassed.clear();
  FProgress.Start();
  // Resolved once: the staged files are walked and matched under one name, also when an older
  // or hand-made task store holds a relative folder.
  const std::string target = platform::AbsolutePath(FTask(SourceDir, 1));
  // The entries come out into a hidden folder beside the files they restore, and only those that
  // came out intact take the place of the files there: a damaged entry never overwrites the
  // file the user still has.
  std::string failure;
  FStaging = MakeStagingFolder(target, failure);
  if (FStaging.empty()) {
    FErrors.AddLine(target, failure);
    extracted = 0;
    return false;
  }
  UnZip1.SetArchiveFile(FArchive);
  UnZip1.FileSpec().Clear();
  UnZip1.FileSpec().Add("*.*");
  UnZip1.SetExtractDir(FStaging);
  UnZip1.Extract();
  FProgress.Finish();
  // The count the user is shown is of the files that reached the folder.
  extracted = PublishIntact(target);
  FStaging.clear();
  if (UnZip1.FilesFailed() > 0 && FErrors.Empty()) {
    FErrors.Add(FArchive, "", E_BAD_FILE_HEADER);
  }
  return FErrors.Empty() && UnZip1.FilesFailed() == 0;
}

int32_t TForm7::PublishIntact(const std::string& target) {
  const int32_t placed = PublishFolder(FStaging, target);
  std::error_code ec;
  std::filesystem::remove_all(FStaging, ec);
  return placed;
}

bool TForm7::Intact(const std::string& output) const {
  const auto verdict = FPassed.find(output);
  return verdict != FPassed.end() && verdict->second;
}

bool TForm7::AllIntact(const std::string& folder, int32_t& files) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec)) continue;
    if (!Intact(it->path().string())) return false;
    ++files;
  }
  return !ec;
}

int32_t TForm7::PublishFolder(const std::string& staged, const std::string& target) {
  namespace fs = std::filesystem;
  int32_t placed = 0;
  std::error_code ec;
  // The staged names are listed, not looked up one by one: no file costs more than its rename.
  for (auto it = fs::directory_iterator(staged, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string from = it->path().string();
    const std::string to = JoinPath(target, it->path().filename().string());
    std::error_code kind;
    if (it->is_directory(kind)) {
      // A folder the target lacks goes over whole, one rename for all its files, when every file
      // in it is intact.
      int32_t files = 0;
      if (NothingAt(to) && AllIntact(from, files) && platform::RenameFile(from, to)) {
        placed += files;
        continue;
      }
      std::error_code made;
      fs::create_directories(to, made);  // the stored folders, also empty ones
      placed += PublishFolder(from, to);
    } else if (Intact(from)) {
      if (platform::RenameFile(from, to)) {
        ++placed;
      } else {
        FErrors.Add(to, std::strerror(platform::LastError()), E_WRITE_ERROR);
      }
    }
  }
  return placed;
}

void TForm7::xpButton3Click(TObject*) {
  if (FRunning || TArchiveOperation::Running()) return;
  if (FArchive.empty()) {
    return ShowError(
        "Не выбран файл резервной копии! Выделите щелчком мыши имя файла в окне \"Файлы резервных копий\" из "
        "которого будет востанавливаться информация.");
  }
  const TTaskTable task = FTask;
  WriteRestoreStartEntry(task, 1, FArchive);
  int32_t n = 0;
  const bool succeeded = RunRestore(n);
  FFileCount = n;
  WriteRestoreEndEntry(task, 1, n, succeeded, FErrors.Lines());
  Label4.setText(kFileCaption);
  Label3.setText(kArchiveCaption);
  if (!succeeded) {
    ShowError(std::string(kRestoreFailureLine) + "\n\n" + FErrors.Text());
  } else if (FInfo == "1") {
    platform::MessageBox("Востановление успешно завершено, востановлено: " + std::to_string(n) + " файлов",
                         "Результаты востановления", platform::MB_OK | platform::MB_ICONINFORMATION);
  }
}

void TForm7::xpButton2Click(TObject*) {
  if (FRunning || TArchiveOperation::Running()) return;
  if (FArchive.empty()) {
    return ShowError(
        "Не выбран файл резервной копии! Выделите щелчком мыши имя файла в окне \"Файлы резервных копий\" который "
        "Вы хотели бы удалить.");
  }
  if (FWarn != "0" && platform::MessageBox("Вы действительно хотите удалить выбранную резервную копию?",
                                           "Подтверждение",
                                           platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDNO) {
    return;
  }
  // An entry that cannot be written stops the deletion before the archive goes; it is written
  // only for a deletion that happened.
  CheckArchiveDeletionEntry(FTask, 1, FArchive);
  if (!platform::DeleteFile(FArchive) && platform::LastError() != ENOENT) {
    const int error = platform::LastError();
    FileListBox1.Update();
    return ShowError("Не удалось удалить резервную копию " + FArchive + ": " + DeletionFailureText(error));
  }
  WriteArchiveDeletionEntry(FTask, 1, FArchive);
  FileListBox1.Update();
  SetChosenArchive("");
}

void TForm7::xpButton1Click(TObject*) { close(); }

void TForm7::UnZip1Progress(TObject*, uint8_t ProgressByFile, uint8_t ProgressByArchive) {
  if (!FProgress.Report(ProgressByFile, ProgressByArchive)) return;
  Label4.setText(QString::fromStdString(TargetPath(UnZip1.CurrentFileName())));
  Label3.setText(QString::fromStdString(UnZip1.ArchiveFile()));
}
