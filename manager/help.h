#pragma once
// TForm13 "Описание программы": the local help pages of the installation folder in a browser.
#include <QFrame>
#include <QTextBrowser>

#include "manager/CentredDialog.h"

class TForm13 : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TForm13(QWidget* parent = nullptr);

  // Every activation starts again at the index page.
  void FormActivate() override;

  QFrame Bevel1{this};
  QTextBrowser WebBrowser1{&Bevel1};
};
