#pragma once
// TLogViewer: a window that shows the executor's log, Dorvexal.log of the installation folder
// (code page 1251), and follows it as the executor appends to it. A log that is replaced or cut
// shorter is read again from its start; a missing one shows an empty view until it appears.
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>

class TLogViewer : public QWidget {
  Q_OBJECT

 public:
  // Shows path, checking it for new lines every intervalMs.
  explicit TLogViewer(std::string path, int intervalMs = 1000, QWidget* parent = nullptr);

  // Reads what was appended since the last look (or the whole file when it was replaced).
  void Follow();
  const std::string& Path() const { return FPath; }
  QPlainTextEdit& View() { return FView; }

 private:
  void Reload();
  void Append(const std::string& cp1251);

  std::string FPath;
  QPlainTextEdit FView{this};
  QTimer FTimer;
  // How much of the file is shown, and which file it is (a new inode is a replaced log).
  int64_t FShown = 0;
  uint64_t FInode = 0;
  // A line break split between two reads: "\r" at the end of one, "\n" at the start of the next.
  bool FPendingCr = false;
};

// The log of the executor in the installation folder.
std::string ExecutorLogFile();
