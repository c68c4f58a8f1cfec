#include "manager/Lokvist.h"


#include <fstream>
#include <iterator>

#include "manager/Kalvenor.h"
#include "manager/TaskLog.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/gui/application.h"

namespace {

constexpr int kClientWidth = 520;
constexpr int kClientHeight = 420;

}  // namespace

TForm9::TForm9(QWidget* parent) : TCentredDialog(parent, "Просмотр отчётов", kClientWidth, kClientHeight) {
  Label1.setText("Название задачи");
  Label1.setGeometry(12, 12, 110, 21);
  Edit1.setReadOnly(true);
  Edit1.setGeometry(124, 12, kClientWidth - 136, 21);
  RichEdit1.setReadOnly(true);
  RichEdit1.setAcceptRichText(false);
  RichEdit1.setLineWrapMode(QTextEdit::NoWrap);
  RichEdit1.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1.setGeometry(12, 42, kClientWidth - 24, kClientHeight - 42 - 49);

  QFont bold = font();
  bold.setBold(true);
  xpButton1.SetCaption("Очистить");
  xpButton2.SetCaption("Выход");
  const int top = kClientHeight - 37;
  xpButton1.setGeometry(kClientWidth / 2 - 95 - 8, top, 95, 25);
  xpButton2.setGeometry(kClientWidth / 2 + 8, top, 95, 25);
  for (TxpButton* b : {&xpButton1, &xpButton2}) b->SetFont(bold);
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
  xpButton2.OnClick = [this](TObject* s) { xpButton2Click(s); };
}



void TForm9::FormActivate() {
  // A task deleted while the view was open leaves nothing to show.
  FTask = SelectedTask > 0 && SelectedTask < TaskCount ? SelectedTask : 0;
  if (!FTask) {
    Edit1.clear();
    RichEdit1.clear();
    return;
  }
  Edit1.setText(QString::fromStdString(TaskTable(TaskName, FTask)));
  LoadLog();
}

void TForm9::LoadLog() {
  const std::string path = TaskLogPath(TaskTable(LogFile, FTask));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open file \"" + path + "\"");
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw EFOpenError("Cannot read file \"" + path + "\"");
  QString text = QString::fromStdString(platform::Cp1251ToUtf8(bytes));
  text.replace("\r\n", "\n");
  RichEdit1.setPlainText(text);
}

void TForm9::xpButton1Click(TObject*) {
  if (!FTask) return;
  // No question first: the view is asked to empty the log, and the header stays.
  WriteTaskLogHeader(TaskTable(LogFlag, FTask), TaskTable(LogFile, FTask));
  RichEdit1.clear();
  LoadLog();
}

void TForm9::xpButton2Click(TObject*) { close(); }
