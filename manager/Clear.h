#pragma once
// TForm11 "Удаление резервных копий": lists the archives of the selected task's backup folder,
// narrows the list by the date in the names that DateTimeArchiveName gives
// (dd_MM_yyyy-HH_mm.zip), and deletes every listed archive at once.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>

#include <functional>
#include <string>
#include <vector>

#include "manager/CentredDialog.h"
#include "manager/xpButton.h"

// The list of the plain files of one folder whose names match a wildcard mask, sorted by name
// without case. Folders and hidden files are not listed; an empty or unreadable folder lists
// nothing (never the program's current folder).
class TFileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit TFileListBox(QWidget* parent = nullptr);

  const std::string& Directory() const { return FDirectory; }
  void SetDirectory(const std::string& directory);
  const std::string& Mask() const { return FMask; }
  void SetMask(const std::string& mask);
  // Reads the folder again; the items change only when the listing did.
  void Update();
  int Count() const { return static_cast<int>(FNames.size()); }
  const std::vector<std::string>& Names() const { return FNames; }

  std::function<void()> OnMouseDown;

 protected:
  void mousePressEvent(QMouseEvent* e) override;

 private:
  std::string FDirectory;
  std::string FMask = "*.zip";
  std::vector<std::string> FNames;
};

// MM of a month name ("Март" gives "03"); empty for a text that names no month.
std::string MonthNumber(const std::string& monthName);

class TForm11 : public TCentredDialog {
  Q_OBJECT

 public:
  explicit TForm11(QWidget* parent = nullptr);

  void FormActivate() override;
  void FormPaint();
  void FileListBox1MouseDown();
  void RadioButton1Click();
  void RadioButton2Click();
  void RadioButton3Click();
  void RadioButton4Click();
  void RadioButton5Click();
  void xpButton3Click(TObject* Sender);  // "Сформировать"
  void xpButton2Click(TObject* Sender);  // "Удалить"
  void xpButton1Click(TObject* Sender);  // "Выход"

  // The mask of the filter chosen now.
  std::string FilterMask() const;
  // The folder listed, as it was at the last activation.
  const std::string& ListFolder() const { return FListFolder; }

  QLabel Label5{this};
  QLineEdit Edit3{this};
  QGroupBox GroupBox1{this};
  TFileListBox FileListBox1{&GroupBox1};
  QGroupBox GroupBox2{this};
  QLabel Label2{&GroupBox2};
  QLineEdit Edit2{&GroupBox2};
  QRadioButton RadioButton1{&GroupBox2};
  QRadioButton RadioButton2{&GroupBox2};
  QSpinBox SpinEdit1{&GroupBox2};
  QRadioButton RadioButton3{&GroupBox2};
  QComboBox ComboBox1{&GroupBox2};
  QRadioButton RadioButton4{&GroupBox2};
  QSpinBox SpinEdit2{&GroupBox2};
  QRadioButton RadioButton5{&GroupBox2};
  QLabel Label1{this};
  QLineEdit Edit1{this};
  TxpButton xpButton3{this};
  TxpButton xpButton2{this};
  TxpButton xpButton1{this};

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  void CreateListBox();
  void CreateFilters();
  void CreateButtons();
  void SetInputs(bool day, bool month, bool year);
  void ShowCount();

  // The copies of the settings taken at activation.
  std::string FInfo = "1", FWarn = "1", FAddf = "1";
  std::string FListFolder;
  // The task whose folder is listed (0: none).
  int32_t FTask = 0;
};
