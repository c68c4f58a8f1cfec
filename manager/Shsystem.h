#pragma once
// TForm10 "Настройка программы": the settings and the executor's start at logon.
#include <QLineEdit>
#include <QToolButton>

#include "manager/CentredDialog.h"
#include "manager/xpButton.h"
#include "manager/xpCheckBox.h"

class TForm10 : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TForm10(QWidget* parent = nullptr);

  // Runs every time the form becomes the active window.
  void FormActivate() override;
  void xpCheckBox6Click(TObject* Sender);
  void xpButton1Click(TObject* Sender);  // "Изменить"
  void xpButton2Click(TObject* Sender);  // "Выход"
  void SpeedButton1Click();

  // From top to bottom: auto, info, warn, addf, delf, logf, deff.
  TxpCheckBox xpCheckBox1{this};
  TxpCheckBox xpCheckBox2{this};
  TxpCheckBox xpCheckBox3{this};
  TxpCheckBox xpCheckBox4{this};
  TxpCheckBox xpCheckBox5{this};
  TxpCheckBox xpCheckBox7{this};
  TxpCheckBox xpCheckBox6{this};
  QLineEdit Edit1{this};
  QToolButton SpeedButton1{this};
  TxpButton xpButton1{this};
  TxpButton xpButton2{this};
};
