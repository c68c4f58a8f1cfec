#include "logview/LogViewer.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace {

// A log of many megabytes is read in pieces, so the window keeps answering.
constexpr int64_t kReadChunk = 1 << 20;

}  // namespace

std::string ExecutorLogFile() { return platform::InstallDir() + "/Dorvexal.log"; }

TLogViewer::TLogViewer(std::string path, int intervalMs, QWidget* parent) : QWidget(parent), FPath(std::move(path)) {
  setWindowTitle(QString::fromUtf8("Протокол Исполнителя - ") + QString::fromStdString(FPath));
  resize(720, 420);
  auto* layout = new QVBoxLayout(this);  // owned by the window
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(&FView);
  FView.setReadOnly(true);
  FView.setLineWrapMode(QPlainTextEdit::NoWrap);
  FView.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  FView.setPlaceholderText(QString::fromUtf8("Протокол пока пуст."));
  connect(&FTimer, &QTimer::timeout, this, &TLogViewer::Follow);
  Follow();
  FTimer.start(intervalMs);
}

void TLogViewer::Reload() {
  FView.clear();
  FShown = 0;
  FPendingCr = false;
}

void TLogViewer::Follow() {
  struct stat st {};
  if (::stat(FPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (FShown > 0 || FInode != 0) Reload();
    FInode = 0;
    return;
  }
  const auto inode = static_cast<uint64_t>(st.st_ino);
  if (inode != FInode || st.st_size < FShown) {
    Reload();
    FInode = inode;
  }
  if (st.st_size == FShown) return;
  std::ifstream in(FPath, std::ios::binary);
  if (!in.seekg(FShown)) return;
  std::vector<char> buffer(static_cast<size_t>(kReadChunk));
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize n = in.gcount();
    if (n <= 0) break;
    Append(std::string(buffer.data(), static_cast<size_t>(n)));
    FShown += n;
  }
}

void TLogViewer::Append(const std::string& cp1251) {
  // The executor writes lines ending in CR LF; the view takes LF alone.
  std::string text;
  text.reserve(cp1251.size());
  for (char c : cp1251) {
    if (FPendingCr && c != '\n') text += '\n';
    FPendingCr = c == '\r';
    if (!FPendingCr) text += c;
  }
  QScrollBar* bar = FView.verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  QTextCursor cursor(FView.document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QString::fromStdString(platform::Cp1251ToUtf8(text)));
  // Following the log means staying at its end, unless the user scrolled back to read.
  if (atEnd) bar->setValue(bar->maximum());
}
