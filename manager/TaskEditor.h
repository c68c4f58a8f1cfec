#pragma once
// What the new-task form and the task-parameters form share: their common controls and layout,
// the rules that switch the schedule inputs, the task fields read from the inputs, and the
// checks that refuse what the task store or the file system cannot take before anything is
// written.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

#include "manager/CentredDialog.h"
#include "manager/TaskStore.h"
#include "manager/xpButton.h"
#include "platform/gui/picker.h"

// A radio button whose handler answers a mouse press on it, not a change of the selection by
// the keyboard. Of the buttons that exclude each other, Tab reaches the selected one, however it
// was selected; the arrow keys move among them.
class TRadioButton : public QRadioButton {
  Q_OBJECT

 public:
  explicit TRadioButton(QWidget* parent = nullptr);
  std::function<void()> OnMouseDown;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;

 private:
  // Makes selected the one button of its group that Tab reaches.
  static void TakeTabStop(QRadioButton* selected);
};

inline constexpr const char* kOnDemand = "По требованию";
inline constexpr const char* kAutomatic = "Автоматическая";

// Which schedule inputs a kind uses; the time is used by every kind. nullopt for a text that is
// none of the four kinds.
struct TKindInputs {
  bool date;
  bool weekDay;
};
std::optional<TKindInputs> KindInputs(const std::string& kind);

// A date in dd.MM.yyyy (day and month may have one digit, the year two) and a time in H:mm:ss
// (seconds may be left out); EConvertError for anything else.
QDate ReadDate(const std::string& text);
QTime ReadTime(const std::string& text);

// True when path is a task log: it begins with the four header lines.
bool IsTaskLogFile(const std::string& path);

class TTaskEditorForm : public TCentredDialog {
  Q_OBJECT

 public:
  // Runs every time the form becomes the manager's active form anew.
  void FormActivate() override = 0;

  // The schedule and copy inputs; the same in both forms.
  void RadioButton1MouseDown();  // "По требованию"
  void RadioButton2MouseDown();  // "Автоматическая"
  void ComboBox1Change();
  void RadioButton3MouseDown();  // "Перезаписывать"
  void RadioButton5MouseDown();  // "Добавлять"
  void RadioButton6MouseDown();  // "Не протоколировать"
  void RadioButton7MouseDown();  // "Создавать Log-файл"

  QLabel Label1{this};
  QLineEdit Edit1{this};
  QGroupBox GroupBox1{this};
  QLabel Label2{&GroupBox1};
  QLineEdit Edit2{&GroupBox1};
  QLabel Label3{&GroupBox1};
  QLineEdit Edit3{&GroupBox1};
  QGroupBox GroupBox2{this};
  TRadioButton RadioButton1{&GroupBox2};
  TRadioButton RadioButton2{&GroupBox2};
  QComboBox ComboBox1{&GroupBox2};
  QLabel Label4{&GroupBox2};
  QComboBox ComboBox2{&GroupBox2};
  QLabel Label5{&GroupBox2};
  platform::DateTimePicker DateTimePicker1{QDate(), &GroupBox2};
  QLabel Label6{&GroupBox2};
  platform::DateTimePicker DateTimePicker2{QTime(), &GroupBox2};
  QGroupBox GroupBox3{this};
  TRadioButton RadioButton3{&GroupBox3};
  TRadioButton RadioButton5{&GroupBox3};
  QLabel Label7{&GroupBox3};
  QLineEdit Edit4{&GroupBox3};
  QGroupBox GroupBox4{this};
  TRadioButton RadioButton6{&GroupBox4};
  TRadioButton RadioButton7{&GroupBox4};
  QLabel Label8{&GroupBox4};
  QLineEdit Edit5{&GroupBox4};
  TxpButton xpButton1{this};
  TxpButton xpButton2{this};

 protected:
  // archiveExtension follows "Backup" and "Дата+Время" in Edit4 (the parameters form holds the
  // whole file name); withFolderChoice leaves room for the folder buttons and the folder box.
  TTaskEditorForm(QWidget* parent, const char* caption, const char* archiveExtension, bool withFolderChoice);

  // Places the two buttons at the bottom, the left one first.
  void PlaceButtons(TxpButton& left, const char* leftCaption, TxpButton& right, const char* rightCaption);
  // Tab goes through the controls as they stand, top to bottom and left to right: the name, the
  // path controls given, the schedule, the copy type, the log and the two buttons.
  void OrderTabs(std::initializer_list<QWidget*> pathControls, QWidget& leftButton, QWidget& rightButton);
  // The geometry of the folder buttons beside Edit2 and Edit3, and the row below them.
  QRect FolderButtonRect(const QLineEdit& edit) const;
  QRect FolderBoxRect() const;

  // The kind rule: switches the date, time and weekday inputs by the kind box's text.
  void ApplyKindRule();
  void DisableSchedule();
  // The pickers show this moment of the clock.
  void SetPickersToNow();

  // The 12 fields that the inputs give, with ArchiveName as given; typed names without blanks at
  // their ends.
  TTaskRecord TaskFields(const std::string& archiveName) const;
  // The task name as it will be stored: Edit1 without blanks at its ends.
  std::string TypedName() const;
  // Each shows why it refuses, and returns false; nothing is written before all have passed.
  bool FieldsStorable(const TTaskRecord& fields) const;
  bool ArchiveNameUsable(const std::string& archiveName) const;
  bool LogFileUsable(const TTaskRecord& fields) const;

  // Closes the form; the main window becomes active and shows the store as it now is.
  void CloseToMainWindow();

  static void ShowError(const std::string& text);

 private:
  std::string FArchiveExtension;
};
