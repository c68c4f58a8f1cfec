#include "manager/help.h"

#include <QUrl>

#include "manager/Kalvenor.h"
#include "platform/gui/application.h"

namespace {

constexpr int kClientWidth = 784;
constexpr int kClientHeight = 673;
constexpr int kMargin = 4;

}  // namespace

TForm13::TForm13(QWidget* parent) : TCentredDialog(parent, "Описание программы", kClientWidth, kClientHeight) {
  Bevel1.setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Bevel1.setGeometry(kMargin, kMargin, kClientWidth - 2 * kMargin, kClientHeight - 2 * kMargin);
  const int inner = Bevel1.frameWidth();
  WebBrowser1.setFrameStyle(QFrame::NoFrame);
  WebBrowser1.setGeometry(inner, inner, Bevel1.width() - 2 * inner, Bevel1.height() - 2 * inner);
  // Pages of the help folder open here; mail and web links go to the system's programs.
  WebBrowser1.setOpenExternalLinks(true);
  setFocusProxy(&WebBrowser1);
}



void TForm13::FormActivate() {
  const QUrl index = QUrl::fromLocalFile(QString::fromStdString(HelpIndexPath()));
  if (WebBrowser1.source() == index) {
    WebBrowser1.reload();
  } else {
    WebBrowser1.setSource(index);
  }
  WebBrowser1.setFocus();
}
