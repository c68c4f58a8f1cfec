#pragma once
// TForm1 "Tarvelo - Планировщик задач": the manager's main window with the task grid, the
// selected task that every other form works on, and the toolbar and menu of all actions.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "manager/TaskStore.h"

class TForm6;
class TForm9;
class TForm10;
class TForm11;
class TForm13;

// The task table of the manager, its count (tasks + 1) and the selected task (0: none).
extern TTaskTable TaskTable;
extern int32_t TaskCount;
extern int32_t SelectedTask;

// The forms, created once at program start; nullptr for a form that does not exist.
class TForm1;
extern TForm1* Form1;
extern TForm6* Form6;
extern TForm9* Form9;
extern TForm10* Form10;
extern TForm11* Form11;
extern TForm13* Form13;

// The row picture and the help page in the installation folder.
std::string RowPicturePath();
std::string HelpIndexPath();
// The outside help installer, started from the manager's own folder.
std::string HelpInstallerPath();

// Starting other programs, behind a seam: tests record what would have been started.
using TProgramStarter = std::function<void(const std::string& program)>;
void SetProgramStarterForTesting(TProgramStarter starter);
void StartProgram(const std::string& program);  // result ignored

// The description column of task t; puts a "0" before a one-digit hour of its StartTime in the
// table itself, so that the next rewrite stores a two-digit hour.
std::string TaskDescription(TTaskTable& table, int32_t task);

// The grid: a string grid whose painting ends with OnDrawCell over the whole visible area.
class TStringGrid : public QTableWidget {
  Q_OBJECT

 public:
  using QTableWidget::QTableWidget;
  // Painter in content coordinates: (0, 0) is the top left of row 0, column 0.
  std::function<void(QPainter&)> OnDrawCell;

 protected:
  void paintEvent(QPaintEvent* e) override;
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  bool Ready() const { return FReady; }

  void FormCreate();
  void FormActivate();
  void FillTaskGrid(int32_t count);
  void StringGrid1DrawCell(QPainter& canvas);
  void StringGrid1SelectCell(int ACol, int ARow);

  void ToolButton1Click();   // "Выход"
  void ToolButton6Click();   // "Добавить"
  void ToolButton10Click();  // "Удалить"
  void ToolButton5Click();   // "Выполнить"
  void ToolButton9Click();   // "Востановить"
  void ToolButton4Click();   // "Параметры"
  void ToolButton2Click();   // "Протокол"
  void ToolButton7Click();   // "Очистить"
  void ToolButton11Click();  // "Исполнитель"
  void ToolButton12Click();  // help
  void ToolButton3Click();   // about
  void N4Click();
  void N9Click();
  void N14Click();

  QToolBar ToolBar1{this};
  QToolButton ToolButton1, ToolButton6, ToolButton10, ToolButton5, ToolButton9, ToolButton4, ToolButton2,
      ToolButton7, ToolButton11, ToolButton12, ToolButton3;
  QGroupBox GroupBox1{this};
  TStringGrid StringGrid1{&GroupBox1};
  QLabel Label1{&GroupBox1}, Label2{&GroupBox1}, Label3{&GroupBox1};
  QMenu N1, N10, N2;
  QAction N5, N6, N14, N9, N7, N8, N11, N13, N3, N15, N4;

  // The column widths of the grid, set again before every fill.
  static constexpr int kNameWidth = 142;
  static constexpr int kDescriptionWidth = 280;
  static constexpr int kPictureWidth = 22;
  static constexpr int kRowHeight = 20;

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  // Refused while a backup or restore runs, as its form refuses: the program ends with this
  // window, and must neither end under a run nor go on without a window.
  void closeEvent(QCloseEvent* e) override;

 private:
  void CreateToolBar();
  void CreateMenu();
  void CreateGrid();
  void SetColumnWidths();
  // The width that a description's text has in its column.
  int DescriptionTextWidth() const;
  // The guard of the actions on the selected task; true when the form may be shown.
  bool TaskGuard();
  void DeleteSelectedTaskFiles(int32_t task);

  bool FReady = false;
  // Column 0's picture of each row; a null picture draws nothing.
  std::vector<QPixmap> FRowPictures;
  // A missing picture was reported and has not been found since.
  bool FPictureReported = false;
};
