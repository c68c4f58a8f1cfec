#pragma once
// TForm6 "О программе": the program's name, version, a credit line and a contact link.
#include <QLabel>

#include "manager/CentredDialog.h"
#include "manager/Linkra.h"
#include "manager/xpButton.h"

class TForm6 : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TForm6(QWidget* parent = nullptr);

  void xpButton1Click(TObject* Sender);  // "OK"

  // From top to bottom.
  QLabel Image1{this};
  QLabel Label1{this};
  QLabel Label2{this};
  QLabel Label5{this};
  TLinkra Linkra1{this};
  TxpButton xpButton1{this};
};
