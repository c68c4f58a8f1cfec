#pragma once
// TForm9 "Просмотр отчётов": the selected task's log file, read again on every activation, and
// emptied down to its header on request.
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>

#include <cstdint>
#include <string>

#include "manager/CentredDialog.h"
#include "manager/xpButton.h"

class TForm9 : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TForm9(QWidget* parent = nullptr);

  void FormActivate() override;
  void xpButton1Click(TObject* Sender);  // "Очистить"
  void xpButton2Click(TObject* Sender);  // "Выход"

  QLabel Label1{this};
  QLineEdit Edit1{this};
  QTextEdit RichEdit1{this};
  TxpButton xpButton1{this};
  TxpButton xpButton2{this};

 private:
  // Replaces the view's text with the file's; EFOpenError (and the old text kept) when the file
  // cannot be read.
  void LoadLog();

  // The task shown since the last activation (0: none).
  int32_t FTask = 0;
};
