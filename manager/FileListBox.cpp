#include "manager/FileListBox.h"

#include <QMouseEvent>
#include <QStyle>

#include <algorithm>
#include <cerrno>

#include "archive/qrnCompBase.h"
#include "archive/qrnFileScan.h"
#include "platform/files.h"
#include "platform/gui/application.h"

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setIconSize(QSize(16, 16));
}

void TFileListBox::SetDirectory(const std::string& directory) {
  FDirectory = directory;
  Update();
}

void TFileListBox::SetMask(const std::string& mask) {
  FMask = mask;
  Update();
}

void TFileListBox::Update() {
  const std::string selected = SelectedName();
  std::vector<std::string> names;
  // A mask is matched against the entries of this one folder only; the names hold no '/'.
  if (!FDirectory.empty() && !FMask.empty()) {
    const std::string mask = FoldNameCase(FMask);
    for (const platform::FindData& entry : platform::ListDirectory(FDirectory)) {
      if (entry.attributes & (platform::kAttrDirectory | platform::kAttrHidden)) continue;
      if (IsMaskMatch(FoldNameCase(entry.name), mask)) names.push_back(entry.name);
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int c = QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  if (names == FNames && count() == static_cast<int>(names.size())) return;
  FNames = std::move(names);
  clear();
  const QIcon glyph = style()->standardIcon(QStyle::SP_FileIcon);
  for (const std::string& name : FNames) {
    auto* item = new QListWidgetItem(glyph, QString::fromStdString(name), this);
    item->setSizeHint(QSize(item->sizeHint().width(), 16));
    if (name == selected) setCurrentItem(item);
  }
}

std::string TFileListBox::SelectedName() const {
  const int row = currentRow();
  return row >= 0 && static_cast<size_t>(row) < FNames.size() && currentItem() && currentItem()->isSelected()
             ? FNames[static_cast<size_t>(row)]
             : std::string();
}

void TFileListBox::mousePressEvent(QMouseEvent* e) {
  // The press selects first; the handler then reads the selection.
  QListWidget::mousePressEvent(e);
  if (OnMouseDown) platform::RunGuarded(OnMouseDown);
}

std::string DeletionFailureText(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return "нет прав на удаление";
    case EROFS: return "носитель доступен только для чтения";
    case EBUSY:
    case ETXTBSY: return "файл занят";
    case EISDIR:
    case ENOTEMPTY: return "это папка, а не файл";
    case EIO: return "ошибка чтения или записи на носителе";
    default: return "системная ошибка " + std::to_string(error);
  }
}
