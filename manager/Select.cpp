#include "manager/Select.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>

#include "manager/Add.h"
#include "manager/Kalvenor.h"
#include "manager/Shsystem.h"
#include "platform/gui/dialogs.h"

int32_t FolderTarget = kFolderToSource;
TForm3* Form3 = nullptr;

namespace {

constexpr int kFormWidth = 320;
constexpr int kTreeHeight = 360;

}  // namespace

TShellTreeView::TShellTreeView(QWidget* parent) : QTreeView(parent) {
  FModel.setOption(QFileSystemModel::DontWatchForChanges, true);
  // Dot folders hold the user's data too (~/.thunderbird, ~/.local/share): a backup copies them,
  // so a task may take one as its source.
  FModel.setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot | QDir::Hidden);
  FModel.setRootPath(QString());
  setModel(&FModel);
  for (int column = 1; column < FModel.columnCount(); ++column) hideColumn(column);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformRowHeights(true);
  // The model reads folders in the background and sorts what it read afterwards.
  auto keepInView = [this] {
    if (FScrollPending && currentIndex().isValid()) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
  };
  connect(&FModel, &QFileSystemModel::directoryLoaded, this, keepInView);
  connect(&FModel, &QAbstractItemModel::layoutChanged, this, keepInView, Qt::QueuedConnection);
}

void TShellTreeView::mousePressEvent(QMouseEvent* e) {
  FScrollPending = false;
  QTreeView::mousePressEvent(e);
}

void TShellTreeView::keyPressEvent(QKeyEvent* e) {
  FScrollPending = false;
  QTreeView::keyPressEvent(e);
}

TShellTreeView::~TShellTreeView() { setModel(nullptr); }

std::string TShellTreeView::Path() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return std::string();
  return FModel.filePath(selected.front()).toStdString();
}

bool TShellTreeView::SetPath(const std::string& folder) {
  const QString path = QString::fromStdString(folder);
  if (!QFileInfo(path).isDir()) return false;
  const QModelIndex index = FModel.index(path);
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  setCurrentIndex(index);
  scrollTo(index, QAbstractItemView::PositionAtCenter);
  FScrollPending = true;
  return true;
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  Form3 = this;
  setWindowTitle("Выбор каталога");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  ShellTreeView1.setGeometry(8, 8, kFormWidth - 16, kTreeHeight);
  QFont bold = font();
  bold.setBold(true);
  xpButton1.SetCaption("Выбрать");
  xpButton1.SetFont(bold);
  xpButton1.resize(95, 25);
  xpButton1.move((kFormWidth - 95) / 2, 8 + kTreeHeight + 10);
  setFixedSize(kFormWidth, 8 + kTreeHeight + 10 + 25 + 12);
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
  // The top of the tree is open from the start, as the desktop's drives are.
  ShellTreeView1.expand(ShellTreeView1.Model().index(QStringLiteral("/")));
}

TForm3::~TForm3() {
  if (Form3 == this) Form3 = nullptr;
}

std::string TForm3::TargetFolder() const {
  switch (FolderTarget) {
    case kFolderToSource: return Form2 ? Form2->Edit2.text().toStdString() : std::string();
    case kFolderToRoot: return Form2 ? Form2->RootFolder() : std::string();
    case kFolderToSettings: return Form10 ? Form10->Edit1.text().toStdString() : std::string();
    default: return std::string();
  }
}

void TForm3::Deliver(const std::string& folder) {
  const QString text = QString::fromStdString(folder);
  switch (FolderTarget) {
    case kFolderToSource:
      if (!Form2) return;
      Form2->Edit2.setText(text);
      break;
    case kFolderToRoot:
      if (!Form2) return;
      Form2->SetRootFolder(folder);
      break;
    case kFolderToSettings:
      if (!Form10) return;
      Form10->Edit1.setText(text);
      break;
    default: return;
  }
  FChosen = true;
}

bool TForm3::ShowModal() {
  FChosen = false;
  const std::string current = TargetFolder();
  if (const platform::FolderChooser& chooser = platform::FolderChooserForTesting()) {
    if (auto folder = chooser(current)) Deliver(*folder);
    return FChosen;
  }
  if (!current.empty()) ShellTreeView1.SetPath(current);
  exec();
  return FChosen;
}

void TForm3::xpButton1Click(TObject*) {
  // Without a selected folder nothing is chosen: an empty folder would make the task's folders
  // at the top of the file system.
  const std::string folder = ShellTreeView1.Path();
  if (!folder.empty()) Deliver(folder);
  done(FChosen ? QDialog::Accepted : QDialog::Rejected);
}
