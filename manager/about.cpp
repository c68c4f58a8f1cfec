#include "manager/about.h"

#include <QPixmap>

#include "manager/Kalvenor.h"
#include "manager/TaskLog.h"

namespace {

constexpr int kClientWidth = 272;
constexpr int kClientHeight = 236;
constexpr const char* kContactAddress = "tarvelo@example.com";

// A centred line of the form at top, height high.
void Line(QLabel& label, int top, int height) {
  label.setAlignment(Qt::AlignCenter);
  label.setGeometry(0, top, kClientWidth, height);
}

}  // namespace

TForm6::TForm6(QWidget* parent) : TCentredDialog(parent, "О программе", kClientWidth, kClientHeight) {
  QPixmap picture;
  if (picture.load(QString::fromStdString(RowPicturePath()))) {
    Image1.setPixmap(picture.scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
  Line(Image1, 12, 52);
  QFont title = font();
  title.setBold(true);
  title.setPointSize(title.pointSize() + 6);
  Label1.setFont(title);
  Label1.setText("Tarvelo ");
  Line(Label1, 68, 32);
  Label2.setText(QString("Версия  ") + kTarveloVersion);
  Line(Label2, 104, 20);
  Label5.setText("Резервные копии папок в архивах ZIP");
  Line(Label5, 128, 20);
  Linkra1.SetProtocol(ptMAIL);
  Linkra1.SetUrl(kContactAddress);
  Linkra1.SetCaption("Напиши мне");
  Line(Linkra1, 152, 24);

  QFont bold = font();
  bold.setBold(true);
  xpButton1.SetCaption("OK");
  xpButton1.SetFont(bold);
  xpButton1.setGeometry(kClientWidth / 2 - 40, kClientHeight - 41, 80, 25);
  xpButton1.OnClick = [this](TObject* s) { xpButton1Click(s); };
}

void TForm6::xpButton1Click(TObject*) { close(); }
